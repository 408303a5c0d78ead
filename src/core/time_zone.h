// The process-wide local time-zone values: the offset of local standard
// time from UTC and the daylight-saving flag of the current local time.
// Set when the library starts and refreshed by the tick thread on each new
// second; read without a lock.
#ifndef VEK_CORE_TIME_ZONE_H
#define VEK_CORE_TIME_ZONE_H

namespace vek {

// Reads both values for the time `now` (seconds since 1970).
void refresh_time_zone(unsigned int now);
// Seconds east of UTC.
int local_time_zone();
// 0, or the positive daylight-saving indicator of the current local time.
int time_zone_dst();

}  // namespace vek

#endif
