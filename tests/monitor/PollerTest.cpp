// The poll threads and the poller's ticks, in-process against loopback
// listeners: samples carry the tick's time, the thread set follows the list,
// and a stop always ends a thread.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "concurrency/Thread.h"
#include "foundation/Clock.h"
#include "monitor/Poller.h"
#include "monitor/ServerManager.h"
#include "net/MtPinger.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Kelm::Test::TempDir;
using Kelm::Test::WaitUntil;

// A loopback listener that completes handshakes and never reads. With
// backlog 0 and one connection parked in it, every further connection
// attempt hangs in SYN_SENT until the client gives up.
class Listener {
public:
    explicit Listener(int backlog = 64)
    {
        m_descriptor = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_descriptor, backlog);
        socklen_t length = sizeof address;
        getsockname(m_descriptor, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~Listener()
    {
        for (int each : m_parked) close(each);
        close(m_descriptor);
    }
    int Port() const { return m_port; }
    void FillBacklog()
    {
        int client = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(m_port));
        connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
        m_parked.push_back(client);
    }

private:
    int m_descriptor;
    int m_port;
    std::vector<int> m_parked;
};

// True while some socket of this process's namespace is in SYN_SENT towards
// the port on loopback.
bool ConnectingTo(int port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "02" && remote.size() > 5 && remote.substr(remote.size() - 5) == wanted) return true;
    }
    return false;
}

class PollerTest : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("FARVIEW_DATA_DIR", m_data.Path().c_str(), 1);
        setenv("FARVIEW_POLL_INTERVAL", "6", 1);  // socket time-out 3 s
        setenv("FARVIEW_REFERENCE_HOST", "127.0.0.1", 1);
        // With raw sockets, route traces to 127.0.0.1 get their answers.
        if (Kelm::Test::IsRoot()) StartReceiveThread();
        m_manager = Singleton<ServerManager>::Instance();
        m_manager->GetServers();
    }

    SharedPtr<Server> Add(int port)
    {
        SharedPtr<Server> server(new Server("127.0.0.1", port));
        EXPECT_TRUE(m_manager->AddServer(server));
        return server;
    }

    static bool AllPolled(const Poller& poller, int polls)
    {
        for (const auto& thread : poller.GetPollThreads()) {
            if (thread->GetPollCount() < polls) return false;
        }
        return true;
    }

    std::vector<PollSample> Samples(const SharedPtr<Server>& server)
    {
        std::vector<PollSample> samples;
        m_manager->GetServerData(server)->GetSamples(TimeRange(Time(0), Time(0xFFFFFFFFu)), samples);
        return samples;
    }

    TempDir m_data;
    ServerManager* m_manager = nullptr;
};

TEST_F(PollerTest, SamplesCarryTheTickTime)
{
    Listener open;
    SharedPtr<Server> good = Add(open.Port());
    SharedPtr<Server> refused = Add(Kelm::Test::FreePort());
    // The clock stands at each tick's time, so the state duration counts
    // from tick to tick.
    Kelm::Test::FakeClock clock(1200);
    Poller poller;
    poller.Tick(Time(1200));
    ASSERT_TRUE(WaitUntil([&] { return AllPolled(poller, 1); }, std::chrono::seconds(60)));
    auto first = poller.GetPollThreads();
    clock = 1206;
    poller.Tick(Time(1206));
    ASSERT_TRUE(WaitUntil([&] { return AllPolled(poller, 2); }, std::chrono::seconds(60)));
    EXPECT_EQ(poller.GetPollThreads(), first) << "an unchanged list keeps its threads";

    for (const SharedPtr<Server>& server : {good, refused}) {
        std::vector<PollSample> samples = Samples(server);
        ASSERT_EQ(samples.size(), 2u);
        EXPECT_EQ(samples[0].m_time.GetSeconds(), 1200u);
        EXPECT_EQ(samples[1].m_time.GetSeconds(), 1206u);
    }
    EXPECT_EQ(Samples(good)[1].m_status, PollSample::KELM_GOOD);
    EXPECT_EQ(good->GetStatus(), PollSample::KELM_GOOD);
    EXPECT_EQ(good->GetStateDuration().GetSeconds(), 6u);
    // Refused: the server is down when the Internet answers (ICMP needs
    // root); without ICMP the Internet check fails first.
    EXPECT_EQ(Samples(refused)[1].m_status,
              Kelm::Test::IsRoot() ? PollSample::KELM_SERVER_DOWN : PollSample::KELM_NO_INTERNET);
}

TEST_F(PollerTest, AddingStartsOnlyTheNewThread)
{
    Listener open;
    Add(open.Port());
    Add(Kelm::Test::FreePort());
    Poller poller;
    poller.Tick(Time(600));
    auto before = poller.GetPollThreads();
    Add(Kelm::Test::FreePort());
    poller.Tick(Time(606));
    auto after = poller.GetPollThreads();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_FALSE(after[0]->IsStopped());
}

TEST_F(PollerTest, DeletingTheSecondOfThreeRestartsAll)
{
    Listener a, b, c;
    Add(a.Port());
    Add(b.Port());
    Add(c.Port());
    Poller poller;
    poller.Tick(Time(600));
    auto before = poller.GetPollThreads();
    ASSERT_TRUE(m_manager->DeleteServer("127.0.0.1", b.Port()));
    poller.Tick(Time(606));
    auto after = poller.GetPollThreads();
    ASSERT_EQ(after.size(), 2u);
    for (const auto& old : before) {
        EXPECT_TRUE(old->IsStopped());
        EXPECT_NE(old, after[0]);
        EXPECT_NE(old, after[1]);
    }
    EXPECT_EQ(after[0]->GetServer()->GetPort(), a.Port());
    EXPECT_EQ(after[1]->GetServer()->GetPort(), c.Port());
    // The stopped threads finish their poll and leave the registry.
    EXPECT_TRUE(WaitUntil([] { return ThreadRegistry::Instance().Count() <= 2 + (Kelm::Test::IsRoot() ? 1 : 0); },
                          std::chrono::seconds(60)));
}

TEST_F(PollerTest, EmptyListJustTicks)
{
    Poller poller;
    poller.Tick(Time(600));
    poller.Tick(Time(606));
    EXPECT_TRUE(poller.GetPollThreads().empty());
}

TEST_F(PollerTest, StopEndsASleepingThread)
{
    Listener open;
    SharedPtr<PollOneServerThread> thread(new PollOneServerThread(Add(open.Port())));
    int before = ThreadRegistry::Instance().Count();
    Start(thread.Get());
    ASSERT_TRUE(WaitUntil([&] { return thread->GetPollCount() == 1; }, std::chrono::seconds(60)));
    thread->Stop();
    thread->Wake();
    EXPECT_TRUE(WaitUntil([&] { return ThreadRegistry::Instance().Count() == before; }));
    EXPECT_EQ(thread->GetPollCount(), 1);
}

TEST_F(PollerTest, StopEndsAPollingThreadAfterItsPoll)
{
    Listener hanging(0);
    hanging.FillBacklog();
    SharedPtr<Server> server = Add(hanging.Port());
    SharedPtr<PollOneServerThread> thread(new PollOneServerThread(server));
    thread->SetPollTime(Time(600));
    int before = ThreadRegistry::Instance().Count();
    Start(thread.Get());
    ASSERT_TRUE(WaitUntil([&] { return ConnectingTo(hanging.Port()); })) << "the poll never started connecting";
    thread->Stop();
    thread->Wake();
    EXPECT_TRUE(WaitUntil([&] { return ThreadRegistry::Instance().Count() == before; }, std::chrono::seconds(60)));
    EXPECT_EQ(thread->GetPollCount(), 1) << "the poll under way still finished";
    std::vector<PollSample> samples = Samples(server);
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].m_time.GetSeconds(), 600u);
    EXPECT_NE(samples[0].m_status, PollSample::KELM_GOOD);
    EXPECT_GE(samples[0].m_connectSeconds, 2) << "the connect waited for the 3-second time-out";
}

}  // namespace
}  // namespace Kelm
