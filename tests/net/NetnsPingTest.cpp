// The pinger and route tracing on a real routed network of namespaces:
//
//     client --- router1 --- router2 --- target
//
// The test process moves into the client before it starts any thread, so
// the receive thread and every pinger socket live there and no packet leaves
// the namespaces. Needs root; each test builds and deletes its own network.
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <barrier>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/Clock.h"
#include "net/MtPinger.h"
#include "net/Route.h"
#include "tests/support/Netns.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Kelm::Test::NetnsTopology;

class InClient : public testing::Test {
protected:
    Kelm::Test::FakeClock m_clock;
    void SetUp() override
    {
        if (!Kelm::Test::IsRoot()) GTEST_SKIP() << "needs root: builds network namespaces and sends raw ICMP";
        m_net = std::make_unique<NetnsTopology>(2);
        ASSERT_TRUE(m_net->IsReady()) << m_net->GetError();
        ASSERT_TRUE(m_net->Enter(NetnsTopology::CLIENT)) << m_net->GetError();
        m_clock = 1000;
        StartReceiveThread();
    }

    uint32_t Router(int k) const { return m_net->Address(m_net->RouterNode(k)); }
    uint32_t Target() const { return m_net->Address(m_net->TargetNode()); }
    std::string TargetText() const { return m_net->AddressText(m_net->TargetNode()); }

    std::unique_ptr<NetnsTopology> m_net;
};

using RouteNetns = InClient;
using MtPingerNetns = InClient;

TEST_F(RouteNetns, TwoRoutersAwayGivesTheirHopsInOrderEndingWithTheTarget)
{
    SharedPtr<Route> route(new Route("target"));  // through the client's hosts file
    EXPECT_FALSE(route->IsValid());
    ASSERT_TRUE(route->Refresh());
    // Tracing starts at time-to-live 2: router1 is never recorded.
    EXPECT_EQ(route->GetHops(), (std::vector<uint32_t>{Router(2), Target()}));
    EXPECT_TRUE(route->IsValid());
    m_clock = 1100;
    EXPECT_EQ(route->GetAge().GetSeconds(), 100u);

    uint32_t bad = 0;
    EXPECT_FALSE(route->FindBadRouter(bad)) << "every probe is answered";
    EXPECT_EQ(bad, 0u);
}

TEST_F(RouteNetns, HostAtTtlTwoIsAOneHopRoute)
{
    SharedPtr<Route> route(new Route(m_net->AddressText(m_net->RouterNode(2))));
    ASSERT_TRUE(route->Refresh());
    EXPECT_EQ(route->GetHops(), std::vector<uint32_t>{Router(2)});
}

TEST_F(RouteNetns, SilentRouterFailsTheRefreshAndIsFoundOnTheOldRoute)
{
    SharedPtr<Route> refreshed(new Route("target"));
    SharedPtr<Route> old(new Route("target"));
    ASSERT_TRUE(refreshed->Refresh());
    ASSERT_TRUE(old->Refresh());
    const std::vector<uint32_t> oldHops = old->GetHops();

    ASSERT_TRUE(m_net->SetSilent(m_net->RouterNode(2), true)) << m_net->GetError();
    EXPECT_FALSE(refreshed->Refresh());
    EXPECT_TRUE(refreshed->GetHops().empty()) << "the hops found before the silent one are cleared too";
    EXPECT_FALSE(refreshed->IsValid());

    // Time-to-live 1 (router1) answers, 2 does not: the router that answered
    // time-to-live 2 in the trace is blamed.
    uint32_t bad = 0;
    ASSERT_TRUE(old->FindBadRouter(bad));
    EXPECT_EQ(bad, Router(2));
    EXPECT_NE(std::find(oldHops.begin(), oldHops.end(), bad), oldHops.end()) << "a hop of the route";
    EXPECT_EQ(old->GetHops(), oldHops);
}

TEST_F(RouteNetns, NameThatStopsResolvingKeepsTheHops)
{
    ASSERT_TRUE(m_net->AddHost(NetnsTopology::CLIENT, "server.test", TargetText()));
    SharedPtr<Route> route(new Route("server.test"));
    ASSERT_TRUE(route->Refresh());
    const std::vector<uint32_t> hops = route->GetHops();
    ASSERT_EQ(hops.size(), 2u);

    ASSERT_TRUE(m_net->RemoveHost(NetnsTopology::CLIENT, "server.test"));
    m_clock = 9000;
    EXPECT_FALSE(route->Refresh());
    EXPECT_EQ(route->GetHops(), hops);
    EXPECT_EQ(route->GetAge().GetSeconds(), 0u) << "the refresh time moved all the same";
}

int SocketTtl(int descriptor)
{
    int ttl = 0;
    socklen_t length = sizeof ttl;
    getsockopt(descriptor, IPPROTO_IP, IP_TTL, &ttl, &length);
    return ttl;
}

TEST_F(MtPingerNetns, TtlIsForOnePingOnly)
{
    SharedPtr<MtPinger> pinger(new MtPinger());
    uint32_t reply = 0;
    ASSERT_TRUE(pinger->Ping(TargetText().c_str(), 1, 3, 0, reply));
    EXPECT_EQ(reply, Target());

    int own = 33;
    ASSERT_EQ(setsockopt(pinger->GetSocket(), IPPROTO_IP, IP_TTL, &own, sizeof own), 0);
    ASSERT_TRUE(pinger->Ping(TargetText().c_str(), 1, 3, 4, reply));
    EXPECT_EQ(reply, Target());
    EXPECT_EQ(SocketTtl(pinger->GetSocket()), 33);

    ASSERT_TRUE(pinger->Ping(TargetText().c_str(), 1, 3, 1, reply));
    EXPECT_EQ(reply, Router(1)) << "time exceeded from the first router";
    EXPECT_EQ(SocketTtl(pinger->GetSocket()), 33);
}

TEST_F(MtPingerNetns, PingersAtTheSameMomentEachGetTheirOwnReply)
{
    // Two of them ping the same host: one is answered by the host, the other
    // by the router where its time-to-live runs out.
    struct Pinging {
        std::string host;
        int ttl;
        uint32_t expected;
    };
    const Pinging pinging[] = {
        {TargetText(), 0, Target()},
        {TargetText(), 2, Router(2)},
        {m_net->AddressText(m_net->RouterNode(1)), 0, Router(1)},
    };
    constexpr int ROUNDS = 20;
    std::barrier start(std::size(pinging));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (const Pinging& each : pinging) {
        threads.emplace_back([&start, &wrong, each] {
            SharedPtr<MtPinger> pinger(new MtPinger());
            for (int round = 0; round < ROUNDS; ++round) {
                start.arrive_and_wait();
                uint32_t reply = 0;
                if (!pinger->Ping(each.host.c_str(), 1, 3, each.ttl, reply) || reply != each.expected) ++wrong;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(MtPingerNetns, CountEchoesUntilOneIsAnswered)
{
    const int target = m_net->TargetNode();
    ASSERT_TRUE(m_net->StartCountingEchoRequests(target)) << m_net->GetError();
    // The target ignores every other echo request, starting with the first.
    Kelm::Test::CommandResult dropFirst = m_net->Run(
        target, {"/usr/sbin/nft", "-f", "-"},
        "table ip farview_every_other {\n"
        "  chain input { type filter hook input priority 0; icmp type echo-request numgen inc mod 2 0 drop; }\n"
        "}\n");
    ASSERT_EQ(dropFirst.status, 0) << dropFirst.output;

    SharedPtr<MtPinger> pinger(new MtPinger());
    uint32_t reply = 0;
    // Two-second waits: a one-second wait begun just before a second ends
    // would be over before even a prompt answer arrived.
    EXPECT_TRUE(pinger->Ping(TargetText().c_str(), 3, 2, 0, reply));
    EXPECT_EQ(reply, Target());
    EXPECT_EQ(m_net->CountEchoRequests(target), 2) << "the answer to the second echo ends the ping";

    ASSERT_TRUE(m_net->SetSilent(target, true)) << m_net->GetError();
    EXPECT_FALSE(pinger->Ping(TargetText().c_str(), 3, 1, 0, reply));
    EXPECT_EQ(m_net->CountEchoRequests(target), 5) << "three unanswered echoes";
}

}  // namespace
}  // namespace Kelm
