// Time values, period texts, ranges and the named periods, with the clock
// put where each case needs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "concurrency/Time.h"
#include "concurrency/TimeRange.h"
#include "foundation/Clock.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Test::CaptureLog;

// Runs every test in UTC unless it sets another zone, and restores the clock.
class TimeTest : public testing::Test {
protected:
    void SetUp() override { UseZone("UTC0"); }
    static void UseZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }
    void SetNow(uint32_t seconds) { m_clock = seconds; }
    Kelm::Test::FakeClock m_clock;
};

TEST_F(TimeTest, PeriodText)
{
    struct Case {
        uint32_t seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 secs"},
        {1, "1 sec"},
        {59, "59 secs"},
        {60, "1 min"},
        {61, "1 min 1 sec"},
        {120, "2 mins"},
        {3600, "1 hour"},
        {3661, "1 hour 1 min 1 sec"},
        {90061, "1 day 1 hour 1 min 1 sec"},
        {604800, "1 week"},
        {31449600, "1 year"},
        {31536000, "1 year 1 day"},
        {63072000, "2 years 2 days"},
        {75, "1 min 15 secs"},
        {4294967295u, "136 years 29 weeks 3 days 6 hours 28 mins 15 secs"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimePeriod(c.seconds).GetText(), c.text) << c.seconds;
    }
}

TEST_F(TimeTest, TextIsTheAsctimeLayoutWithoutLineEnd)
{
    EXPECT_EQ(Time(0).GetText(), "Thu Jan  1 00:00:00 1970");
    EXPECT_EQ(Time(1796919696).GetText(), "Thu Dec 10 16:21:36 2026");
    time_t now = std::time(nullptr);
    char reference[32];
    tm fields;
    localtime_r(&now, &fields);
    asctime_r(&fields, reference);
    EXPECT_EQ(Time(static_cast<uint32_t>(now)).GetText() + "\n", reference);
}

TEST_F(TimeTest, CalendarConstructorAndAccessors)
{
    std::string log;
    Time t(0, 0, 0, 1, 1, 2024);
    log = CaptureLog([&] { t = Time(59, 59, 23, 31, 2, 2005); });
    EXPECT_EQ(log, "Successfully generated time: Thu Mar  3 23:59:59 2005\n");
    EXPECT_EQ(t.GetMonth(), 3);
    EXPECT_EQ(t.GetDay(), 3);
    EXPECT_EQ(t.GetYear(), 2005);
    EXPECT_EQ(t.GetHour(), 23);
    EXPECT_EQ(t.GetMinute(), 59);
    EXPECT_EQ(t.GetSecond(), 59);
    // Month 0 is December of the year before.
    EXPECT_EQ(Time(0, 0, 0, 1, 0, 2026).GetText(), "Mon Dec  1 00:00:00 2025");
}

TEST_F(TimeTest, Arithmetic)
{
    Time a(100), b(250);
    EXPECT_EQ((a - b).GetSeconds(), 150u);
    EXPECT_EQ((b - a).GetSeconds(), 150u);
    a += TimePeriod(20);
    EXPECT_EQ(a.GetSeconds(), 120u);
    a -= TimePeriod(121);
    EXPECT_EQ(a.GetSeconds(), 4294967295u) << "wraps as unsigned 32-bit";
    Time c(1079);
    c.Truncate(TimePeriod(120));
    EXPECT_EQ(c.GetSeconds(), 960u);
    SetNow(1234);
    EXPECT_EQ(Time().GetSeconds(), 1234u);
}

TEST_F(TimeTest, RangeOrderingAndContains)
{
    TimeRange range(Time(200), Time(100));
    EXPECT_EQ(range.GetStart().GetSeconds(), 100u);
    EXPECT_EQ(range.GetEnd().GetSeconds(), 200u);
    EXPECT_TRUE(range.Contains(Time(100)));
    EXPECT_TRUE(range.Contains(Time(199)));
    EXPECT_FALSE(range.Contains(Time(200)));
    EXPECT_FALSE(range.Contains(Time(99)));
    EXPECT_EQ(range.GetDuration().GetSeconds(), 100u);
    EXPECT_EQ(range.GetText(), "From Thu Jan  1 00:01:40 1970 to Thu Jan  1 00:03:20 1970");

    TimeRange empty(Time(100), Time(100));
    EXPECT_FALSE(empty.Contains(Time(100)));
    EXPECT_EQ(empty.GetText(), "Thu Jan  1 00:01:40 1970");
    EXPECT_EQ(empty.GetDuration().GetText(), "0 secs");

    range.SetStart(Time(150));
    range.SetEnd(Time(150));
    EXPECT_EQ(range.GetDuration().GetSeconds(), 0u);
}

TEST_F(TimeTest, RangeAssertsOrder)
{
    EXPECT_DEATH(
        {
            TimeRange range(Time(100), Time(200));
            range.SetStart(Time(300));
        },
        "TimeRange.cpp:[0-9]+: failed assertion `m_start <= m_end'");
}

// 2026-12-13 is a Sunday.
constexpr uint32_t SUNDAY = 1797120000;

TEST_F(TimeTest, NamedPeriods)
{
    struct Case {
        unsigned period;
        uint32_t now;
        uint32_t start, end;
    };
    const Case cases[] = {
        {TODAY, SUNDAY + 3600, SUNDAY, SUNDAY + 3600},
        {YESTERDAY, SUNDAY + 3600, SUNDAY - 86400, SUNDAY - 1},
        {YESTERDAY, SUNDAY, SUNDAY - 86400, SUNDAY - 1},
        {THIS_WEEK, SUNDAY, SUNDAY, SUNDAY},
        {THIS_WEEK, SUNDAY - 1, SUNDAY - 604800, SUNDAY - 1},
        {THIS_WEEK, SUNDAY + 5 * 86400, SUNDAY, SUNDAY + 5 * 86400},
        {LAST_WEEK, SUNDAY + 10, SUNDAY - 604800, SUNDAY - 1},
        {THIS_MONTH, SUNDAY, 1796083200 /* 2026-12-01 */, SUNDAY},
        {LAST_MONTH, SUNDAY, 1793491200 /* 2026-11-01 */, 1796083200 - 1},
        // January: the whole of December of the year before.
        {LAST_MONTH, 1798761600 + 86400 /* 2027-01-02 */, 1796083200, 1798761600 - 1},
    };
    for (const Case& c : cases) {
        SetNow(c.now);
        TimeRange range(Time(0), Time(0));
        CaptureLog([&] { range = MakeTimeRange(c.period); });
        EXPECT_EQ(range.GetStart().GetSeconds(), c.start) << "period " << c.period << " at " << c.now;
        EXPECT_EQ(range.GetEnd().GetSeconds(), c.end) << "period " << c.period << " at " << c.now;
    }
}

TEST_F(TimeTest, NamedPeriodLengthsAndLog)
{
    SetNow(SUNDAY + 12345);
    std::string log;
    TimeRange yesterday(Time(0), Time(0));
    log = CaptureLog([&] { yesterday = MakeTimeRange(YESTERDAY); });
    EXPECT_EQ(yesterday.GetDuration().GetSeconds(), 86399u);
    EXPECT_EQ(log, "MakeTimeRange: YESTERDAY: start: Sat Dec 12 00:00:00 2026, endSat Dec 12 23:59:59 2026\n");
    TimeRange lastWeek(Time(0), Time(0));
    log = CaptureLog([&] { lastWeek = MakeTimeRange(LAST_WEEK); });
    EXPECT_EQ(lastWeek.GetDuration().GetSeconds(), 604799u);
    EXPECT_EQ(log, "MakeTimeRange: : start: Sun Dec  6 00:00:00 2026, endSat Dec 12 23:59:59 2026\n");
}

TEST_F(TimeTest, MonthsTurnAtLocalMidnight)
{
    UseZone("EST5");  // five hours behind UTC, no summer time
    SetNow(1796083200 + 3 * 3600);  // 2026-11-30 22:00 local
    TimeRange range(Time(0), Time(0));
    CaptureLog([&] { range = MakeTimeRange(THIS_MONTH); });
    EXPECT_EQ(range.GetStart().GetText(), "Sun Nov  1 00:00:00 2026");
    EXPECT_EQ(range.GetStart().GetSeconds(), 1793491200u + 5 * 3600);
}

TEST_F(TimeTest, UnknownPeriodStops)
{
    EXPECT_DEATH(MakeTimeRange(6), "TimeRange.cpp:[0-9]+: failed assertion `0'");
}

}  // namespace
}  // namespace Kelm
