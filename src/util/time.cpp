#include "vek/util/time.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "core/time_zone.h"
#include "object/cast_impl.h"
#include "object/interface_query.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace vek {

namespace {

// Years past this one cannot give a 32-bit time; refusing them early also
// keeps `year - 1900` inside the range of tm_year.
const unsigned int k_last_year = 2200;

// The 32-bit absolute time of `t`, 0 for times before 1970 or past 2106.
unsigned int to_absolute(long long t)
{
    return t < 0 || t > static_cast<long long>(UINT_MAX) ? 0 : static_cast<unsigned int>(t);
}

bool is_leap_year(unsigned int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

}  // namespace

// A broken-down local time; every field starts at zero.
class time_impl : public object, public virtual i_time {
public:
    time_impl() : m_tm() {}

    unsigned int get_year() override { return static_cast<unsigned int>(m_tm.tm_year + 1900); }
    bool set_year(unsigned int val) override { return store(&m_tm.tm_year, val - 1900); }
    unsigned int get_month() override { return static_cast<unsigned int>(m_tm.tm_mon + 1); }
    bool set_month(unsigned int val) override { return store(&m_tm.tm_mon, val - 1); }
    unsigned int get_day() override { return static_cast<unsigned int>(m_tm.tm_mday); }
    bool set_day(unsigned int val) override { return store(&m_tm.tm_mday, val); }
    unsigned int get_hour() override { return static_cast<unsigned int>(m_tm.tm_hour); }
    bool set_hour(unsigned int val) override { return store(&m_tm.tm_hour, val); }
    unsigned int get_minute() override { return static_cast<unsigned int>(m_tm.tm_min); }
    bool set_minute(unsigned int val) override { return store(&m_tm.tm_min, val); }
    unsigned int get_second() override { return static_cast<unsigned int>(m_tm.tm_sec); }
    bool set_second(unsigned int val) override { return store(&m_tm.tm_sec, val); }

    unsigned int get_absolute() override
    {
        m_tm.tm_isdst = -1;
        long long t = 0;
        return platform::make_local_time(&m_tm, &t) ? to_absolute(t) : 0;
    }

    bool set_absolute(unsigned int val) override
    {
        std::tm fields;
        if (!platform::local_time(static_cast<std::time_t>(val != 0 ? val : platform::now_seconds()), &fields)) {
            return false;
        }
        m_tm = fields;
        return true;
    }

    // Answers "i_time" only.
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (name_is(iface_name, "i_time")) return answer(pp_obj, static_cast<i_time*>(this));
        return object::get_interface(iface_name, pp_obj);
    }

private:
    // Unsigned values wrap into the int fields as they would in C, so
    // set_year(1800) stores -100 and get_year gives 1800 back.
    static bool store(int* field, unsigned int val)
    {
        *field = static_cast<int>(val);
        return true;
    }

    std::tm m_tm;
};

}  // namespace vek

int vek_local_timezone()
{
    return vek::local_time_zone();
}

int vek_timezone_dst()
{
    return vek::time_zone_dst();
}

unsigned int vek_calc_time(unsigned int year, unsigned int month, unsigned int day, unsigned int hour,
                           unsigned int minute, unsigned int second, bool calc_from_utc)
{
    if (year < 1970 || year > vek::k_last_year || month > 12 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return 0;
    }
    std::tm fields = std::tm();
    fields.tm_year = static_cast<int>(year) - 1900;
    fields.tm_mon = static_cast<int>(month) - 1;
    fields.tm_mday = static_cast<int>(day);
    fields.tm_hour = static_cast<int>(hour);
    fields.tm_min = static_cast<int>(minute);
    fields.tm_sec = static_cast<int>(second);
    fields.tm_isdst = -1;
    long long t = 0;
    if (!vek::platform::make_local_time(&fields, &t)) return 0;
    // The local reading of the first hours of 1970 is negative east of UTC;
    // only the final result must fit.
    if (calc_from_utc) t += vek::local_time_zone() + 3600LL * vek::time_zone_dst();
    return vek::to_absolute(t);
}

vek::i_time* vek_construct_time(unsigned int year, unsigned int month, unsigned int day, unsigned int hour,
                                unsigned int minute, unsigned int second, bool calc_from_utc)
{
    unsigned int t = vek_calc_time(year, month, day, hour, minute, second, calc_from_utc);
    return t != 0 ? vek_get_time(t) : nullptr;
}

vek::i_time* vek_get_time(unsigned int absolute)
{
    auto* t = new (std::nothrow) vek::time_impl();
    if (t == nullptr) return nullptr;
    t->addref();
    if (absolute != 0) t->set_absolute(absolute);
    return t;
}

bool vek_format_time_impl(char* dst, unsigned int dst_size, unsigned int tmval, int tz_offset, unsigned int flags)
{
    if (dst == nullptr || dst_size == 0) return false;
    dst[0] = '\0';
    // Signed 64-bit, so that a time near 1970 shown west of UTC stays before
    // 1970 instead of wrapping to 2106.
    long long t = static_cast<long long>(tmval) + tz_offset - vek::local_time_zone();
    std::tm f;
    if (!vek::platform::local_time(static_cast<std::time_t>(t), &f)) return false;
    switch (flags & 3) {
        case 3:
            std::snprintf(dst, dst_size, "%04d-%02d-%02d %02d:%02d:%02d", f.tm_year + 1900, f.tm_mon + 1, f.tm_mday,
                          f.tm_hour, f.tm_min, f.tm_sec);
            break;
        case 2:
            std::snprintf(dst, dst_size, "%04d-%02d-%02d", f.tm_year + 1900, f.tm_mon + 1, f.tm_mday);
            break;
        case 1:
            std::snprintf(dst, dst_size, "%02d:%02d:%02d", f.tm_hour, f.tm_min, f.tm_sec);
            break;
        default:
            return false;
    }
    return true;
}

char* vek_format_time(unsigned int tmval, int tz_offset, unsigned int flags)
{
    char text[256];
    if (!vek_format_time_impl(text, sizeof text, tmval, tz_offset, flags)) return nullptr;
    return strdup(text);
}

unsigned int vek_get_days_in_year(unsigned int year)
{
    return vek::is_leap_year(year) ? 365 : 364;
}

unsigned int vek_get_days_in_month(unsigned int m, unsigned int y)
{
    static const unsigned int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12) return 0;
    if (m == 2 && vek_get_days_in_year(y) == 365) return 29;
    return days[m - 1];
}

void sleepms(unsigned int ms)
{
    vek::platform::sleep_ms(ms);
}

VEK_DEFINE_CAST(vek::i_time, i_time)
