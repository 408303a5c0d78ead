#include "platform/clock.h"

#include <time.h>

namespace vek {
namespace platform {

unsigned int now_seconds()
{
    return static_cast<unsigned int>(::time(nullptr));
}

bool local_time(std::time_t t, std::tm* out)
{
    return localtime_r(&t, out) != nullptr;
}

long long make_local_time(std::tm* fields)
{
    return static_cast<long long>(::mktime(fields));
}

void init_time_zone()
{
    tzset();
}

long standard_utc_offset()
{
    return -::timezone;
}

}  // namespace platform
}  // namespace vek
