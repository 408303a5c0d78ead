// Time: the local time-zone values, conversion between calendar fields and
// absolute times, absolute times as text, the i_time calendar object, day
// counts and a millisecond sleep. The coarse clock itself is
// vek_get_curr_time (vek/core.h).
//
// An absolute time is an unsigned 32-bit count of seconds since
// 1970-01-01 00:00:00 UTC, so it covers 1970 to early 2106. Calendar fields
// are read and shown as local time in the zone the process had when
// vek_initialize read the zone settings (TZ). The time-zone offset and the
// daylight-saving flag are set by vek_initialize and refreshed by the core's
// tick thread on every new second; 0 before the first vek_initialize.
//
// Thread safety: every function here is safe for concurrent use (the
// time-zone values are plain words read without a lock). An i_time object
// is used by one thread at a time.
#ifndef VEK_UTIL_TIME_H
#define VEK_UTIL_TIME_H

#include "vek/export.h"
#include "vek/object/base.h"

namespace vek {

// A broken-down local calendar time. The setters store their value as it is
// (each returns true); get_absolute normalises out-of-range fields, so
// set_month(13) followed by get_absolute moves to January of the next year.
class VEK_API i_time : public virtual i_object {
public:
    // Full year (1900 for a fresh object).
    virtual unsigned int get_year() = 0;
    virtual bool set_year(unsigned int val) = 0;
    // 1-12.
    virtual unsigned int get_month() = 0;
    virtual bool set_month(unsigned int val) = 0;
    // Day of the month, 1-31 (0 for a fresh object).
    virtual unsigned int get_day() = 0;
    virtual bool set_day(unsigned int val) = 0;
    virtual unsigned int get_hour() = 0;
    virtual bool set_hour(unsigned int val) = 0;
    virtual unsigned int get_minute() = 0;
    virtual bool set_minute(unsigned int val) = 0;
    virtual unsigned int get_second() = 0;
    virtual bool set_second(unsigned int val) = 0;
    // The fields read as local time (the zone decides whether daylight
    // saving applies), normalising them; 0 when they give no time in the
    // 32-bit range from 1970 on.
    virtual unsigned int get_absolute() = 0;
    // Sets the fields to the local time of `val` (0: now). False when the
    // time cannot be broken down; the fields then stay as they were.
    virtual bool set_absolute(unsigned int val) = 0;

protected:
    ~i_time() = default;
};

}  // namespace vek

// Seconds east of UTC of local standard time (3600 for Central Europe, in
// winter and summer alike).
VEK_API int vek_local_timezone();
// The daylight-saving indicator of the current local time: 0 or positive
// (1 while summer time is in force).
VEK_API int vek_timezone_dst();

// The absolute time of the local calendar fields, or with `calc_from_utc`
// of the fields read as UTC. For the UTC reading the local result is moved
// by the zone offset and by one hour when daylight saving is in force now
// (not at the given date), so dates on the other side of a daylight-saving
// change come out one hour off. Month 0 and day 0 pass and are normalised
// (2009-00-00 is 2008-11-30). 0 for a year before 1970, month > 12,
// day > 31, hour > 23, minute > 59, second > 59, and for results outside
// the 32-bit range.
VEK_API unsigned int vek_calc_time(unsigned int year, unsigned int month, unsigned int day, unsigned int hour,
                                   unsigned int minute, unsigned int second, bool calc_from_utc = false);
// New reference: caller releases. The local time of vek_calc_time's
// result; null where that result is 0.
VEK_API vek::i_time* vek_construct_time(unsigned int year, unsigned int month, unsigned int day, unsigned int hour,
                                        unsigned int minute, unsigned int second, bool calc_from_utc = false);
// New reference: caller releases. Set from `absolute` as by set_absolute;
// for 0 the fields stay zero (year 1900, month 1, day 0, 00:00:00). Null
// only when memory runs out.
VEK_API vek::i_time* vek_get_time(unsigned int absolute);

// Writes `tmval` as seen in the zone `tz_offset` seconds east of UTC, plus
// one hour while local daylight saving is in force at the shown time.
// `flags` & 3 selects the text: 3 "YYYY-MM-DD hh:mm:ss", 2 "YYYY-MM-DD",
// 1 "hh:mm:ss". At most `dst_size` bytes are written, terminator included;
// a longer text is cut short and still gives true. False, with `dst` empty
// when there is room for that, for a null `dst`, a `dst_size` of 0, flags
// without either bit, or a time that cannot be broken down.
VEK_API bool vek_format_time_impl(char* dst, unsigned int dst_size, unsigned int tmval, int tz_offset,
                                  unsigned int flags);
// Heap text: caller frees with free(). vek_format_time_impl's text; null
// where it gives false.
VEK_API char* vek_format_time(unsigned int tmval, int tz_offset, unsigned int flags = 3);

// One less than the number of days of the Gregorian year: 365 for a leap
// year, 364 for a common one.
VEK_API unsigned int vek_get_days_in_year(unsigned int year);
// Days of month `m` (1-12) of year `y`: 28-31; 0 for any other month.
VEK_API unsigned int vek_get_days_in_month(unsigned int m, unsigned int y);

// Suspends the calling thread for `ms` milliseconds; 0 sleeps 1 ms.
VEK_API void sleepms(unsigned int ms);

VEK_API vek::i_time* vek_cast_i_time(vek::i_object* obj);

#endif
