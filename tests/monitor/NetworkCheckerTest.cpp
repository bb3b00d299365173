// The network checker: where its reference host comes from, how long a
// refresh stays good (on the test clock, not real minutes), and, on a
// namespace network, up and down as the reference host answers or not.
#include <atomic>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "foundation/Clock.h"
#include "monitor/NetworkChecker.h"
#include "net/MtPinger.h"
#include "tests/support/Netns.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

class NetworkCheckerTest : public testing::Test {
protected:
    Kelm::Test::FakeClock m_clock{1000};
    void TearDown() override
    {
        unsetenv("FARVIEW_REFERENCE_HOST");
    }
};

TEST_F(NetworkCheckerTest, ReferenceHostIsFixedUnlessTheEnvironmentNamesOne)
{
    struct Case {
        const char* environment;  // null: unset
        std::string expected;
    };
    const Case cases[] = {
        {nullptr, NetworkChecker::REFERENCE_HOST},
        {"", NetworkChecker::REFERENCE_HOST},
        {"10.77.1.2", "10.77.1.2"},
        {"reference.test", "reference.test"},
    };
    for (const Case& each : cases) {
        if (each.environment == nullptr) {
            unsetenv("FARVIEW_REFERENCE_HOST");
        } else {
            setenv("FARVIEW_REFERENCE_HOST", each.environment, 1);
        }
        EXPECT_EQ(NetworkChecker().GetReferenceHost(), each.expected)
            << (each.environment ? each.environment : "(unset)");
    }
}

TEST_F(NetworkCheckerTest, SingletonReadsTheEnvironmentOnce)
{
    setenv("FARVIEW_REFERENCE_HOST", "first.test", 1);
    NetworkChecker* checker = Singleton<NetworkChecker>::Instance();
    setenv("FARVIEW_REFERENCE_HOST", "second.test", 1);
    EXPECT_EQ(Singleton<NetworkChecker>::Instance(), checker);
    EXPECT_EQ(checker->GetReferenceHost(), "first.test");
}

// Every refresh looks the reference host up once; with a name that cannot
// resolve (glibc refuses a blank before any DNS query) each refresh leaves one
// "Unable to lookup" line and sends nothing, so the lines count refreshes.
TEST_F(NetworkCheckerTest, RefreshesOnlyWhenMoreThanSixtySecondsHavePassed)
{
    NetworkChecker checker("no such host.invalid");
    std::string log = Kelm::Test::CaptureLog([&] {
        EXPECT_TRUE(checker.IsNetworkUp());  // 1000: the first call always refreshes
        m_clock = 1059;
        EXPECT_FALSE(checker.IsInternetUp());
        m_clock = 1060;
        EXPECT_TRUE(checker.IsNetworkUp());  // 60 is not more than the period
        m_clock = 1061;
        EXPECT_FALSE(checker.IsInternetUp());  // 61 is: a second refresh
        m_clock = 1100;
        EXPECT_FALSE(checker.IsInternetUp());
        m_clock = 1040;  // the clock went back 60 s: the age is the distance
        EXPECT_TRUE(checker.IsNetworkUp());
        m_clock = 1000;
        EXPECT_TRUE(checker.IsNetworkUp());  // 61 s back: refresh
    });
    size_t refreshes = 0;
    for (size_t at = log.find("Unable to lookup host address"); at != std::string::npos;
         at = log.find("Unable to lookup host address", at + 1)) {
        ++refreshes;
    }
    EXPECT_EQ(refreshes, 3u) << log;
}

TEST_F(NetworkCheckerTest, ExplicitRefreshAlwaysChecks)
{
    NetworkChecker checker("no such host.invalid");
    std::string log = Kelm::Test::CaptureLog([&] {
        checker.Refresh();
        checker.Refresh();
        EXPECT_TRUE(checker.IsNetworkUp());
    });
    EXPECT_NE(log.find("Unable to lookup"), log.rfind("Unable to lookup")) << "two refreshes, two look-ups";
}

// client --- router1 --- target, the reference host a name in the client's
// hosts file for the target.
TEST_F(NetworkCheckerTest, NetnsUpWhenTheReferenceAnswersDownWhenSilentOneEchoPerPeriod)
{
    if (!Kelm::Test::IsRoot()) GTEST_SKIP() << "needs root: builds network namespaces and sends raw ICMP";
    Kelm::Test::NetnsTopology net(1);
    ASSERT_TRUE(net.IsReady()) << net.GetError();
    const int target = net.TargetNode();
    ASSERT_TRUE(net.AddHost(Kelm::Test::NetnsTopology::CLIENT, "reference.test", net.AddressText(target)));
    ASSERT_TRUE(net.StartCountingEchoRequests(target)) << net.GetError();
    ASSERT_TRUE(net.Enter(Kelm::Test::NetnsTopology::CLIENT)) << net.GetError();
    setenv("FARVIEW_REFERENCE_HOST", "reference.test", 1);
    StartReceiveThread();
    NetworkChecker* checker = Singleton<NetworkChecker>::Instance();

    EXPECT_TRUE(checker->IsInternetUp());
    EXPECT_TRUE(checker->IsNetworkUp());
    EXPECT_EQ(net.CountEchoRequests(target), 1);
    m_clock = 1059;
    EXPECT_TRUE(checker->IsInternetUp());
    EXPECT_EQ(net.CountEchoRequests(target), 1) << "two calls 59 seconds apart send one echo";

    ASSERT_TRUE(net.SetSilent(target, true)) << net.GetError();
    m_clock = 1061;
    EXPECT_FALSE(checker->IsInternetUp());
    EXPECT_TRUE(checker->IsNetworkUp());
    EXPECT_EQ(net.CountEchoRequests(target), 2);

    ASSERT_TRUE(net.SetSilent(target, false)) << net.GetError();
    m_clock = 1121;
    EXPECT_FALSE(checker->IsInternetUp()) << "the failed check stands for its whole period";
    EXPECT_EQ(net.CountEchoRequests(target), 2);
    m_clock = 1122;
    EXPECT_TRUE(checker->IsInternetUp());
    EXPECT_EQ(net.CountEchoRequests(target), 3);
}

}  // namespace
}  // namespace Kelm
