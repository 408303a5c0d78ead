#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>

#include "test_support.h"

class TimeTest : public ::testing::Test {
protected:
    // Brings the library up again in `tz`, so that it reads the zone's
    // values afresh.
    void use_zone(const char* tz)
    {
        vek_terminate();
        setenv("TZ", tz, 1);
        tzset();
        ASSERT_TRUE(vek_initialize());
    }
    void TearDown() override { vek_terminate(); }
    vek_test::env_guard m_env{"TZ", "VEK_ROOT_PATH"};
};

// vek_format_time's text, "(null)" for null.
static std::string text(unsigned int tmval, int tz_offset, unsigned int flags = 3)
{
    std::unique_ptr<char, decltype(&std::free)> s(vek_format_time(tmval, tz_offset, flags), std::free);
    return s != nullptr ? s.get() : "(null)";
}

// The fields of `t` as "year-month-day hour:minute:second".
static std::string fields(vek::i_time* t)
{
    char s[80];
    std::snprintf(s, sizeof s, "%u-%u-%u %u:%u:%u", t->get_year(), t->get_month(), t->get_day(), t->get_hour(),
                  t->get_minute(), t->get_second());
    return s;
}

// Leap years follow the Gregorian rule, and a year has one day less than
// it should. Each field has its upper bound; a time object answers only
// i_time and normalises its fields when it converts them.
TEST_F(TimeTest, CalendarCalcAndFormatGiveExactValuesInUtcAndAcrossDaylightSaving)
{
    use_zone("UTC");
    // A month, a year, and the days of that month and of that year.
    const unsigned int days[][4] = {
        {2, 1900, 28, 364}, {2, 2000, 29, 365}, {2, 2004, 29, 365}, {0, 2023, 0, 364}, {12, 2023, 31, 364}};
    for (auto& d : days)
        EXPECT_EQ(std::make_pair(vek_get_days_in_month(d[0], d[1]), vek_get_days_in_year(d[1])),
                  std::make_pair(d[2], d[3]));

    // Year, month, day, hour, minute, second and the time they give.
    // clang-format off
    const unsigned int calc[][7] = {
        {2009, 1, 14, 0, 0, 0, 1231891200}, {2009, 0, 0, 0, 0, 0, 1228003200}, {2009, 12, 31, 23, 59, 59, 1262303999},
        {2106, 2, 7, 6, 28, 15, UINT_MAX}, {2106, 2, 7, 6, 28, 16, 0}, {UINT_MAX, 1, 1, 0, 0, 0, 0},
        {2009, 13, 1, 0, 0, 0, 0}, {2009, 1, 32, 0, 0, 0, 0}, {2009, 1, 1, 24, 0, 0, 0}, {2009, 1, 1, 0, 60, 0, 0},
        {2009, 1, 1, 0, 0, 60, 0}};
    // clang-format on
    for (auto& c : calc) EXPECT_EQ(vek_calc_time(c[0], c[1], c[2], c[3], c[4], c[5]), c[6]) << c[0] << "-" << c[1];
    // Offsets of any size, and times shown before 1970.
    EXPECT_EQ(text(1231891200, 19800) + "|" + text(0, -1) + "|" + text(UINT_MAX, INT_MAX),
              "2009-01-14 05:30:00|1969-12-31 23:59:59|2174-02-25 09:42:22");
    // A short buffer gets the start of the text and nothing past its size;
    // a refused format leaves an empty text.
    const unsigned int sizes_and_flags[][2] = {{20, 3}, {1, 3}, {0, 3}, {8, 0}};
    for (auto [size, flags] : sizes_and_flags) {
        std::string buf(32, '#');
        EXPECT_EQ(vek_format_time_impl(&buf[0], size, 1231891200, 0, flags), size != 0 && flags != 0);
        std::string written = size == 0 ? "" : std::string("2009-01-14 00:00:00", flags != 0 ? size - 1 : 0) + '\0';
        EXPECT_EQ(buf, written + std::string(32 - written.size(), '#')) << size;
    }
    EXPECT_FALSE(vek_format_time_impl(nullptr, 64, 1231891200, 0, 3));

    vek::i_time* t = vek_get_time(0);
    EXPECT_EQ(vek_test::count_of(t), 1);
    EXPECT_EQ(fields(t), "1900-1-0 0:0:0");
    EXPECT_EQ(t->get_absolute(), 0u);  // before 1970
    void* p = &p;
    EXPECT_FALSE(t->get_interface("i_object", &p) || p != nullptr);
    EXPECT_TRUE(t->set_year(2009) && t->set_month(13) && t->set_day(14) && t->set_hour(25));
    EXPECT_EQ(t->get_absolute(), 1263517200u);
    EXPECT_EQ(fields(t), "2010-1-15 1:0:0");
    EXPECT_EQ(t->release(), 0);

    // Local times follow daylight saving; UTC readings take today's.
    use_zone("Europe/Berlin");
    std::time_t now = std::time(nullptr);
    unsigned int dst = vek_timezone_dst();
    EXPECT_EQ(vek_local_timezone(), 3600);
    EXPECT_EQ(dst, std::localtime(&now)->tm_isdst > 0 ? 1u : 0u);
    EXPECT_EQ(vek_calc_time(2009, 1, 14, 1, 0, 0), 1231891200u);
    EXPECT_EQ(vek_calc_time(2009, 7, 14, 2, 0, 0), 1247529600u);
    // Read as UTC, with today's daylight saving rather than the date's.
    EXPECT_EQ(vek_calc_time(2009, 1, 14, 0, 0, 0, true), 1231891200u + 3600u * dst);
    EXPECT_EQ(vek_calc_time(2009, 7, 14, 0, 0, 0, true), 1247529600u + 3600u * dst - 3600u);
    // The first hour of 1970 is before 1970 here, yet fine as UTC (mktime's
    // -1 included).
    EXPECT_EQ(vek_calc_time(1970, 1, 1, 0, 59, 59), 0u);
    EXPECT_EQ(vek_calc_time(1970, 1, 1, 0, 59, 59, true), 3599u + 3600u * dst);
    // Shown with the standard offset given: the clock jumps and falls back.
    EXPECT_EQ(text(1238288400, 3600) + "|" + text(1256432400, 3600) + "|" + text(1247529600, 0) + "|" + text(0, 0),
              "2009-03-29 03:00:00|2009-10-25 02:00:00|2009-07-14 01:00:00|1970-01-01 00:00:00");
    auto_ptr_t<vek::i_time> summer(vek_get_time(1247529600));
    EXPECT_EQ(fields(summer) + " " + std::to_string(summer->get_absolute()), "2009-7-14 2:0:0 1247529600");

    // A zone on summer time all year: UTC readings move by its hour.
    use_zone("XST-1XDT,0/0,J365/26");
    ASSERT_EQ(vek_timezone_dst(), 1);
    EXPECT_EQ(vek_calc_time(2009, 1, 14, 0, 0, 0, true), 1231891200u);
    EXPECT_EQ(text(1231891200, 0), "2009-01-14 01:00:00");
}
