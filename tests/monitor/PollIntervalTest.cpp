// The poll grid on the test clock: where the interval comes from, the next
// grid time with and without the one-shot extra second, the next slot.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "foundation/Clock.h"
#include "foundation/Shareable.h"
#include "monitor/PollInterval.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

class PollIntervalTest : public testing::Test {
protected:
    Kelm::Test::FakeClock m_clock;
    void SetUp() override
    {
        unsetenv("FARVIEW_POLL_INTERVAL");
    }
    void TearDown() override
    {
        unsetenv("FARVIEW_POLL_INTERVAL");
    }
};

TEST_F(PollIntervalTest, IntervalComesFromTheEnvironmentWhenUsable)
{
    struct Case {
        const char* value;  // null: unset
        uint32_t expected;
        bool logged;        // an unusable value is reported
    };
    const Case cases[] = {
        {nullptr, 120, false}, {"", 120, false},    {"60", 60, false},   {"2", 2, false},
        {"86400", 86400, false}, {"1", 120, true},  {"0", 120, true},    {"-5", 120, true},
        {"abc", 120, true},    {"12x", 120, true},  {" 30", 120, true},  {"86401", 120, true},
        {"99999999999999999999", 120, true},
    };
    for (const Case& each : cases) {
        if (each.value) {
            setenv("FARVIEW_POLL_INTERVAL", each.value, 1);
        } else {
            unsetenv("FARVIEW_POLL_INTERVAL");
        }
        uint32_t interval = 0;
        std::string log = Kelm::Test::CaptureLog([&] { interval = PollInterval().GetInterval().GetSeconds(); });
        const char* shown = each.value ? each.value : "(unset)";
        EXPECT_EQ(interval, each.expected) << shown;
        EXPECT_EQ(!log.empty(), each.logged) << shown << ": " << log;
    }
}

TEST_F(PollIntervalTest, NextPollTime)
{
    struct Case {
        uint32_t now;
        bool addOneSecond;
        uint32_t expected;
    };
    const Case cases[] = {
        {1000, true, 1080}, {1079, true, 1200}, {1080, true, 1200}, {1199, true, 1320},
        {1000, false, 1080}, {1079, false, 1080}, {1080, false, 1200}, {0, false, 120},
    };
    for (const Case& each : cases) {
        PollInterval grid;
        m_clock = each.now;
        if (each.addOneSecond) grid.AddOneSecond();
        EXPECT_EQ(grid.NextPollTime().GetSeconds(), each.expected) << each.now << (each.addOneSecond ? " +1" : "");
    }
}

TEST_F(PollIntervalTest, ExtraSecondIsUsedOnce)
{
    PollInterval grid;
    m_clock = 1079;
    grid.AddOneSecond();
    EXPECT_EQ(grid.NextPollTime().GetSeconds(), 1200u);
    EXPECT_EQ(grid.NextPollTime().GetSeconds(), 1080u);
}

TEST_F(PollIntervalTest, NextSlotAfter)
{
    PollInterval grid;
    const std::pair<uint32_t, uint32_t> cases[] = {{240, 360}, {239, 240}, {0, 120}, {1, 120}, {119, 120}};
    for (const auto& [t, expected] : cases) {
        EXPECT_EQ(grid.NextSlotAfter(Time(t)).GetSeconds(), expected) << t;
    }
}

TEST_F(PollIntervalTest, GridFollowsAnotherInterval)
{
    setenv("FARVIEW_POLL_INTERVAL", "10", 1);
    PollInterval grid;
    m_clock = 1009;
    grid.AddOneSecond();
    EXPECT_EQ(grid.NextPollTime().GetSeconds(), 1020u);
    EXPECT_EQ(grid.NextPollTime().GetSeconds(), 1010u);
    EXPECT_EQ(grid.NextSlotAfter(Time(30)).GetSeconds(), 40u);
}

TEST_F(PollIntervalTest, SingletonIsMadeOnceUnderARace)
{
    std::atomic<PollInterval*> seen[2] = {nullptr, nullptr};
    std::thread a([&] { seen[0] = Singleton<PollInterval>::Instance(); });
    std::thread b([&] { seen[1] = Singleton<PollInterval>::Instance(); });
    a.join();
    b.join();
    EXPECT_EQ(seen[0].load(), seen[1].load());
    EXPECT_NE(seen[0].load(), nullptr);
}

}  // namespace
}  // namespace Kelm
