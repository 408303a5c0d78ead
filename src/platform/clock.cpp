#include "platform/clock.h"

#include <time.h>

#include "platform/env.h"

namespace vek {
namespace platform {

unsigned int now_seconds()
{
    return static_cast<unsigned int>(::time(nullptr));
}

// glibc reads TZ with getenv: on the first localtime_r, on every mktime
// and tzset.
bool local_time(std::time_t t, std::tm* out)
{
    env_pause pause;
    return localtime_r(&t, out) != nullptr;
}

long long make_local_time(std::tm* fields)
{
    env_pause pause;
    return static_cast<long long>(::mktime(fields));
}

void init_time_zone()
{
    env_pause pause;
    tzset();
}

long standard_utc_offset()
{
    return -::timezone;
}

}  // namespace platform
}  // namespace vek
