// A monitored server: its socket time-out, how the state duration grows and
// restarts (on the test clock), the assertion on status 3, and equality.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "foundation/Clock.h"
#include "monitor/PollSample.h"
#include "monitor/Server.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

class ServerTest : public testing::Test {
protected:
    Kelm::Test::FakeClock m_clock;
    void TearDown() override
    {
        unsetenv("FARVIEW_POLL_INTERVAL");
    }
};

int ReceiveTimeout(Server& server)
{
    timeval value{};
    socklen_t length = sizeof value;
    getsockopt(server.GetSocket().GetDescriptor(), SOL_SOCKET, SO_RCVTIMEO, &value, &length);
    return static_cast<int>(value.tv_sec);
}

TEST_F(ServerTest, SocketTimeoutIsIntervalLessThree)
{
    std::string log = Kelm::Test::CaptureLog([] {
        SharedPtr<Server> server(new Server("alpha", 80));
        EXPECT_EQ(ReceiveTimeout(*server), 117);
    });
    EXPECT_EQ(log, "SERVER: setting socket timeout to 117 secs.\n");
}

TEST_F(ServerTest, SocketTimeoutIsAtLeastOneSecond)
{
    setenv("FARVIEW_POLL_INTERVAL", "3", 1);
    std::string log = Kelm::Test::CaptureLog([] {
        SharedPtr<Server> server(new Server("alpha", 80));
        EXPECT_EQ(ReceiveTimeout(*server), 1);
    });
    EXPECT_EQ(log, "SERVER: setting socket timeout to 1 secs.\n");
}

TEST_F(ServerTest, NewServerHasNoData)
{
    SharedPtr<Server> server(new Server("alpha", 80));
    EXPECT_EQ(server->GetStatus(), PollSample::KELM_NO_DATA);
    EXPECT_EQ(server->GetStateDuration().GetSeconds(), 0u);
    EXPECT_EQ(server->GetRouterAddress(), 0u);
    EXPECT_EQ(server->GetName(), "alpha");
    EXPECT_EQ(server->GetPort(), 80);
}

// Each poll: the clock when SetStatus runs, the status found, the sample's
// grid time, and the duration expected afterwards.
struct Poll {
    uint32_t now;
    int status;
    uint32_t sampleTime;
    uint32_t duration;
};

void RunPolls(Kelm::Test::FakeClock& clock, const std::vector<Poll>& polls, const char* name)
{
    SharedPtr<Server> server(new Server("alpha", 80));
    for (size_t i = 0; i < polls.size(); ++i) {
        clock = polls[i].now;
        server->SetStatus(polls[i].status, Time(polls[i].sampleTime), 0);
        EXPECT_EQ(server->GetStateDuration().GetSeconds(), polls[i].duration) << name << ", poll " << i;
        EXPECT_EQ(server->GetStatus(), polls[i].status) << name << ", poll " << i;
    }
}

TEST_F(ServerTest, StateDurationRules)
{
    const int GOOD = PollSample::KELM_GOOD;
    const int DOWN = PollSample::KELM_SERVER_DOWN;
    RunPolls(m_clock, {{1200, GOOD, 1200, 0}, {1320, GOOD, 1320, 120}, {1440, GOOD, 1440, 240}}, "three good polls");
    RunPolls(m_clock, {{1200, GOOD, 1200, 0}, {1440, GOOD, 1440, 0}, {1560, GOOD, 1560, 120}}, "a missed poll");
    RunPolls(m_clock, {{1200, GOOD, 1200, 0}, {1320, DOWN, 1320, 0}, {1440, DOWN, 1440, 120}}, "a status change");
    // 180 seconds is one and a half intervals: not more, so it still counts.
    RunPolls(m_clock, {{1200, DOWN, 1200, 0}, {1380, DOWN, 1320, 120}}, "age of exactly 180");
    // A slow poll: the age counts from when SetStatus runs, not the grid time.
    RunPolls(m_clock, {{1200, DOWN, 1200, 0}, {1381, DOWN, 1320, 0}}, "age of 181");
}

TEST_F(ServerTest, DurationLimitFollowsTheInterval)
{
    setenv("FARVIEW_POLL_INTERVAL", "10", 1);
    const int GOOD = PollSample::KELM_GOOD;
    RunPolls(m_clock, {{1000, GOOD, 1000, 0}, {1015, GOOD, 1010, 10}, {1026, GOOD, 1020, 0}}, "interval 10");
}

TEST_F(ServerTest, RouterAddressIsTheLatestPolls)
{
    SharedPtr<Server> server(new Server("alpha", 80));
    m_clock = 1200;
    server->SetStatus(PollSample::KELM_BAD_ROUTER, Time(1200), 0x0A000001);
    EXPECT_EQ(server->GetRouterAddress(), 0x0A000001u);
    server->SetStatus(PollSample::KELM_GOOD, Time(1200), 0);
    EXPECT_EQ(server->GetRouterAddress(), 0u);
}

TEST_F(ServerTest, RecordingNoDataIsAnAssertion)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SharedPtr<Server> server(new Server("alpha", 80));
    EXPECT_DEATH(server->SetStatus(PollSample::KELM_NO_DATA, Time(1200), 0),
                 "^Server\\.cpp:[0-9]+: failed assertion `status != PollSample::KELM_NO_DATA'\n");
}

TEST_F(ServerTest, EqualityIsNameAndPort)
{
    struct Case {
        const char* name;
        int port;
        bool equal;  // to alpha:80
    };
    const Case cases[] = {{"alpha", 80, true}, {"alpha", 8080, false}, {"Alpha", 80, false}, {"beta", 80, false}};
    SharedPtr<Server> alpha(new Server("alpha", 80));
    for (const Case& each : cases) {
        SharedPtr<Server> other(new Server(each.name, each.port));
        other->SetStatus(PollSample::KELM_SERVER_DOWN, Time(1200), 0);  // state takes no part
        EXPECT_EQ(*alpha == *other, each.equal) << each.name << ":" << each.port;
    }
}

TEST_F(ServerTest, ReadersAndThePollThreadAtOnce)
{
    SharedPtr<Server> server(new Server("alpha", 80));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            int status = server->GetStatus();
            EXPECT_TRUE(status == PollSample::KELM_NO_DATA || status == PollSample::KELM_GOOD) << status;
            server->GetStateDuration();
            server->GetRouterAddress();
        }
    });
    for (uint32_t t = 1200; t < 1200 + 120 * 2000; t += 120) {
        m_clock = t;
        server->SetStatus(PollSample::KELM_GOOD, Time(t), 0);
    }
    done = true;
    reader.join();
    EXPECT_EQ(server->GetStateDuration().GetSeconds(), 120u * 1999);
}

}  // namespace
}  // namespace Kelm
