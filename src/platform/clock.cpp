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

bool make_local_time(std::tm* fields, long long* out)
{
    // mktime's -1 is also a real time (one second before 1970 UTC); a
    // successful call always fills in the weekday, a failed one leaves it.
    env_pause pause;
    fields->tm_wday = -1;
    std::time_t t = ::mktime(fields);
    if (t == static_cast<std::time_t>(-1) && fields->tm_wday == -1) return false;
    *out = static_cast<long long>(t);
    return true;
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
