// Wall clock and local time.
#ifndef VEK_PLATFORM_CLOCK_H
#define VEK_PLATFORM_CLOCK_H

#include <ctime>

namespace vek {
namespace platform {

// Whole seconds since 1970 (32-bit, as the library's clock keeps them).
unsigned int now_seconds();
// Breaks `t` down into local time. False when it cannot.
bool local_time(std::time_t t, std::tm* out);
// Seconds since 1970 of the local time in *fields, which it normalises in
// place (tm_isdst -1 lets the zone decide on daylight saving), into *out.
// False when the fields cannot be converted; a true result may be negative
// (a local time before 1970 UTC), -1 included.
bool make_local_time(std::tm* fields, long long* out);
// Reloads the local time-zone data from the environment.
void init_time_zone();
// Seconds east of UTC of the local standard time, as last loaded.
long standard_utc_offset();

}  // namespace platform
}  // namespace vek

#endif
