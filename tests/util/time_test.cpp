#include <climits>
#include <cstring>
#include <ctime>
#include <string>

#include "test_support.h"

namespace {

// Each case brings the library up in a zone of its own, so that the
// library reads its time-zone values afresh.
class TimeTest : public ::testing::Test {
protected:
    void use_zone(const char* tz)
    {
        setenv("TZ", tz, 1);
        tzset();
        vek_test::quiet_trace();
        ASSERT_TRUE(vek_initialize());
    }
    void TearDown() override { vek_terminate(); }
    vek_test::env_guard m_env{"TZ", "VEK_ROOT_PATH"};
};

// vek_format_time's text, "(null)" for null.
std::string text(unsigned int tmval, int tz_offset, unsigned int flags = 3)
{
    char* s = vek_format_time(tmval, tz_offset, flags);
    std::string result = s != nullptr ? s : "(null)";
    std::free(s);
    return result;
}

// The fields of `t` as "year-month-day hour:minute:second".
std::string fields(vek::i_time* t)
{
    char s[80];
    std::snprintf(s, sizeof s, "%u-%u-%u %u:%u:%u", t->get_year(), t->get_month(), t->get_day(), t->get_hour(),
                  t->get_minute(), t->get_second());
    return s;
}

// Leap years follow the Gregorian rule, and a year has one day less than
// it should.
TEST_F(TimeTest, UtcCalendarCalcAndFormatGiveExactValuesAndRefuseBadInput)
{
    use_zone("UTC");
    // A year, its days and the days of its February.
    const unsigned int years[][3] = {
        {1900, 364, 28}, {2000, 365, 29}, {2100, 364, 28}, {2003, 364, 28}, {2004, 365, 29}};
    for (auto& y : years) {
        EXPECT_EQ(vek_get_days_in_year(y[0]), y[1]) << y[0];
        EXPECT_EQ(vek_get_days_in_month(2, y[0]), y[2]) << y[0];
    }
    const unsigned int months[] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31, 0};
    for (unsigned int m = 0; m <= 13; ++m) EXPECT_EQ(vek_get_days_in_month(m, 2023), months[m]) << m;

    // clang-format off
    struct {
        unsigned int f[6], expected;
    } calc[] = {
        {{2009, 1, 14, 0, 0, 0}, 1231891200}, {{1969, 12, 31, 23, 59, 59}, 0}, {{2009, 0, 0, 0, 0, 0}, 1228003200},
        {{2106, 2, 7, 6, 28, 15}, UINT_MAX},  {{2106, 2, 7, 6, 28, 16}, 0},    {{2009, 13, 1, 0, 0, 0}, 0},
        {{2009, 1, 32, 0, 0, 0}, 0},          {{2009, 1, 1, 24, 0, 0}, 0},     {{2009, 1, 1, 0, 60, 0}, 0},
        {{2009, 1, 1, 0, 0, 60}, 0},          {{UINT_MAX, 1, 1, 0, 0, 0}, 0},  {{2009, 12, 31, 23, 59, 59}, 1262303999}};
    // clang-format on
    for (auto& c : calc) {
        for (bool utc : {false, true}) {
            EXPECT_EQ(vek_calc_time(c.f[0], c.f[1], c.f[2], c.f[3], c.f[4], c.f[5], utc), c.expected) << c.f[0];
        }
    }
    const char* by_flags[] = {"(null)", "00:00:00", "2009-01-14", "2009-01-14 00:00:00", "(null)"};
    for (unsigned int flags = 0; flags <= 4; ++flags) EXPECT_EQ(text(1231891200, 0, flags), by_flags[flags]);
    EXPECT_EQ(text(1231891200, 19800), "2009-01-14 05:30:00");
    EXPECT_EQ(text(0, -1), "1969-12-31 23:59:59");
    EXPECT_EQ(text(UINT_MAX, INT_MAX), "2174-02-25 09:42:22");

    // A short buffer gets the start of the text and nothing past its size.
    for (unsigned int size : {20u, 5u, 1u, 0u}) {
        std::string buf(32, '#');
        EXPECT_EQ(vek_format_time_impl(&buf[0], size, 1231891200, 0, 3), size != 0);
        std::string written = size == 0 ? "" : std::string("2009-01-14 00:00:00", size - 1) + '\0';
        EXPECT_EQ(buf, written + std::string(32 - size, '#')) << size;
    }
    char buf[8] = "#######";
    EXPECT_FALSE(vek_format_time_impl(buf, sizeof buf, 1231891200, 0, 0));
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(vek_format_time_impl(nullptr, 64, 1231891200, 0, 3));
}

TEST_F(TimeTest, BerlinFollowsDaylightSavingAcrossTheSkippedAndRepeatedHours)
{
    use_zone("Europe/Berlin");
    EXPECT_EQ(vek_local_timezone(), 3600);
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    unsigned int dst = vek_timezone_dst();
    EXPECT_EQ(dst, local.tm_isdst > 0 ? 1u : 0u);

    EXPECT_EQ(vek_calc_time(2009, 1, 14, 1, 0, 0), 1231891200u);
    EXPECT_EQ(vek_calc_time(2009, 7, 14, 2, 0, 0), 1247529600u);
    // 02:30 does not exist on the spring day and exists twice on the autumn
    // day: either reading is one of two instants an hour apart.
    unsigned int spring = vek_calc_time(2009, 3, 29, 2, 30, 0), autumn = vek_calc_time(2009, 10, 25, 2, 30, 0);
    EXPECT_TRUE(spring == 1238286600u || spring == 1238290200u) << spring;
    EXPECT_TRUE(autumn == 1256430600u || autumn == 1256434200u) << autumn;
    // Read as UTC, with today's daylight saving rather than the date's.
    EXPECT_EQ(vek_calc_time(2009, 1, 14, 0, 0, 0, true), 1231891200u + 3600u * dst);
    EXPECT_EQ(vek_calc_time(2009, 7, 14, 0, 0, 0, true), 1247529600u + 3600u * dst - 3600u);
    // The first hour of 1970 is before 1970 here, yet fine as UTC (mktime's
    // -1 at 00:59:59 included).
    EXPECT_EQ(vek_calc_time(1970, 1, 1, 0, 30, 0), 0u);
    EXPECT_EQ(vek_calc_time(1970, 1, 1, 0, 30, 0, true), 1800u + 3600u * dst);
    EXPECT_EQ(vek_calc_time(1970, 1, 1, 0, 59, 59, true), 3599u + 3600u * dst);

    // Shown with the standard offset given: the clock jumps and falls back.
    // clang-format off
    const std::pair<unsigned int, const char*> shown[] = {
        {1238288399, "2009-03-29 01:59:59"}, {1238288400, "2009-03-29 03:00:00"},
        {1256432399, "2009-10-25 02:59:59"}, {1256432400, "2009-10-25 02:00:00"}};
    // clang-format on
    for (auto& [tmval, expected] : shown) EXPECT_EQ(text(tmval, 3600), expected);
    EXPECT_EQ(text(1247529600, 0), "2009-07-14 01:00:00");
    EXPECT_EQ(text(0, 0), "1970-01-01 00:00:00");

    auto_ptr_t<vek::i_time> t(vek_get_time(1247529600));
    EXPECT_EQ(fields(t), "2009-7-14 2:0:0");
    EXPECT_EQ(t->get_absolute(), 1247529600u);
}

TEST_F(TimeTest, DaylightSavingInForceNowMovesUtcResults)
{
    use_zone("XST-1XDT,0/0,J365/25");  // summer time but for one hour a year
    if (vek_timezone_dst() != 1) GTEST_SKIP() << "in the zone's standard-time hour";
    EXPECT_EQ(vek_calc_time(2009, 1, 14, 0, 0, 0, true), 1231891200u);
    EXPECT_EQ(text(1231891200, 0), "2009-01-14 01:00:00");
}

TEST_F(TimeTest, TimeObjectAnswersOnlyITimeAndNormalisesOnConversion)
{
    use_zone("UTC");
    vek::i_time* t = vek_get_time(0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(vek_test::count_of(t), 1);
    EXPECT_EQ(fields(t), "1900-1-0 0:0:0");
    EXPECT_EQ(t->get_absolute(), 0u);  // before 1970
    for (const char* name : {"i_object", "object", "time_impl", ""}) {
        void* p = &p;
        EXPECT_FALSE(t->get_interface(name, &p) || p != nullptr) << name;
    }
    EXPECT_TRUE(t->set_year(2009) && t->set_month(13) && t->set_day(14) && t->set_hour(25) && t->set_minute(0) &&
                t->set_second(0));
    EXPECT_EQ(t->get_absolute(), 1263517200u);
    EXPECT_EQ(fields(t), "2010-1-15 1:0:0");
    auto_ptr_t<vek::i_time> built(vek_construct_time(2009, 0, 0, 0, 0, 0));
    EXPECT_EQ(fields(built), "2008-11-30 0:0:0");
    EXPECT_EQ(t->release(), 0);
}

TEST(SleepTest, SleepsAtLeastTheTimeAskedAndZeroSleepsOneMillisecond)
{
    for (unsigned int ms : {0u, 25u}) {
        auto start = std::chrono::steady_clock::now();
        sleepms(ms);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms == 0 ? 1 : ms));
    }
}

}  // namespace
