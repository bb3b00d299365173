// The real daemon polling on a short grid: on loopback, and in a small
// network of namespaces (client, two routers, target) where the test breaks
// the path and reads each diagnosis from the server list page and from the
// sample files, never from internals.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "monitor/SampleRecord.h"
#include "tests/support/Netns.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Kelm::Test::Daemon;
using Kelm::Test::NetnsTopology;
using Kelm::Test::TempDir;
using Kelm::Test::WaitUntil;

constexpr int INTERVAL = 4;  // seconds; the socket time-out is then 1 s

// A listening TCP socket on the port, made inside the named network
// namespace (or here, for ""). It completes handshakes without accepting.
int ListenIn(const std::string& netns, int port)
{
    int descriptor = -1;
    std::thread maker([&] {
        // Only this short-lived thread moves; the socket stays in the
        // namespace it was made in.
        if (!netns.empty()) {
            int nsFile = open(("/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC);
            if (nsFile < 0 || setns(nsFile, CLONE_NEWNET) != 0) return;
            close(nsFile);
        }
        descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(netns.empty() ? INADDR_LOOPBACK : INADDR_ANY);
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(descriptor, 128) != 0) {
            close(descriptor);
            descriptor = -1;
        }
    });
    maker.join();
    return descriptor;
}

std::string ServerList(const std::vector<std::pair<std::string, int>>& servers)
{
    std::string text = "// server.txt\n// File version follows on next line.\n11\n\n" +
                       std::to_string(servers.size()) + "\n";
    for (const auto& [name, port] : servers) text += name + "\n" + std::to_string(port) + "\n";
    return text;
}

// The state word and fault text of the server's row on the list page, as
// "Good|" or "Unknown|Bad router 10.77.1.2"; "" when the row is missing.
std::string RowState(int port, const std::string& name, int serverPort)
{
    std::string page = Kelm::Test::BodyOf(Kelm::Test::HttpGet(port, "/index.html"));
    std::smatch match;
    std::regex row("<tr><td>" + std::regex_replace(name, std::regex("\\."), "\\.") + " Port " +
                   std::to_string(serverPort) + "</td><td>([^<]*)</td><td>([^<]*)</td>");
    if (!std::regex_search(page, match, row)) return "";
    return match[1].str() + "|" + match[2].str();
}

std::vector<PollSample> ReadSamples(const std::string& path)
{
    std::vector<PollSample> samples;
    std::string bytes = Kelm::Test::ReadFile(path);
    SampleDecoder().Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), samples);
    return samples;
}

Daemon::Options Options(const TempDir& app, const TempDir& data, int port, const std::string& reference,
                        const std::string& netns = "")
{
    return {.arguments = {std::to_string(port)},
            .environment = {{"FARVIEW_POLL_INTERVAL", std::to_string(INTERVAL)},
                            {"FARVIEW_REFERENCE_HOST", reference}},
            .appDir = app.Path(),
            .dataDir = data.Path(),
            .netns = netns};
}

TEST(PollingDaemon, LoopbackServersOnTheGrid)
{
    TempDir app, data;
    int open = ListenIn("", 0);
    ASSERT_GE(open, 0);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(open, reinterpret_cast<sockaddr*>(&address), &length);
    int openPort = ntohs(address.sin_port);
    int closedPort = Kelm::Test::FreePort();
    data.Write("server.txt", ServerList({{"127.0.0.1", openPort}, {"localhost", closedPort}}));

    int port = Kelm::Test::FreePort();
    Daemon daemon(Options(app, data, port, "127.0.0.1"));
    ASSERT_TRUE(daemon.WaitForOutput("Listening on port")) << daemon.Output();

    EXPECT_TRUE(WaitUntil([&] { return RowState(port, "127.0.0.1", openPort) == "Good|"; },
                          std::chrono::seconds(30)))
        << RowState(port, "127.0.0.1", openPort);
    // A refused port is "Server down" when the reference host answers; the
    // echo needs ICMP, that is root.
    const std::string refused = Kelm::Test::IsRoot() ? "Bad|Server down" : "Unknown|No Internet";
    EXPECT_TRUE(WaitUntil([&] { return RowState(port, "localhost", closedPort) == refused; },
                          std::chrono::seconds(30)))
        << RowState(port, "localhost", closedPort);
    // Let both servers be polled at a few more grid times.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string log = daemon.Output();
            size_t polls = 0;
            for (size_t at = log.find("POLL THREAD:"); at != std::string::npos; at = log.find("POLL THREAD:", at + 1))
                ++polls;
            return polls >= 6;
        },
        std::chrono::seconds(40)));

    ASSERT_EQ(daemon.Stop(SIGTERM), 0) << "the stop writes the pending samples";
    close(open);
    auto good = ReadSamples(data.File("v1.0-127.0.0.1-" + std::to_string(openPort) + ".dat"));
    auto down = ReadSamples(data.File("v1.0-localhost-" + std::to_string(closedPort) + ".dat"));
    ASSERT_GE(good.size(), 3u);
    ASSERT_GE(down.size(), 3u);
    for (const auto& samples : {good, down}) {
        for (const PollSample& sample : samples) {
            EXPECT_EQ(sample.m_time.GetSeconds() % INTERVAL, 0u) << "a sample off the grid";
        }
    }
    // Both servers are woken at the same grid times and store exactly them.
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(good[i].m_time, down[i].m_time);
    EXPECT_EQ(good.back().m_status, PollSample::KELM_GOOD);
    EXPECT_EQ(down.back().m_status,
              Kelm::Test::IsRoot() ? PollSample::KELM_SERVER_DOWN : PollSample::KELM_NO_INTERNET);
}

// The network: client - router1 - router2 - target. The reference host is
// router1, so silencing router2 leaves the Internet check answering.
class DiagnosisNetwork : public testing::Test {
protected:
    void SetUp() override
    {
        if (!Kelm::Test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces and send ICMP";
        m_net = std::make_unique<NetnsTopology>(2);
        ASSERT_TRUE(m_net->IsReady()) << m_net->GetError();
        ASSERT_TRUE(m_net->AddHost(CLIENT, "reference", m_net->AddressText(m_net->RouterNode(1))));
        ASSERT_TRUE(m_net->Enter(CLIENT)) << m_net->GetError();
    }

    void Start(const std::vector<std::pair<std::string, int>>& servers)
    {
        m_data.Write("server.txt", ServerList(servers));
        m_port = Kelm::Test::FreePort();
        m_daemon = std::make_unique<Daemon>(Options(m_app, m_data, m_port, "reference", m_net->Namespace(CLIENT)));
        ASSERT_TRUE(m_daemon->WaitForOutput("Listening on port")) << m_daemon->Output();
    }

    bool WaitForRow(const std::string& name, int port, const std::string& state, int seconds = 40)
    {
        bool found = WaitUntil([&] { return RowState(m_port, name, port) == state; }, std::chrono::seconds(seconds));
        if (!found) ADD_FAILURE() << name << " " << port << " shows '" << RowState(m_port, name, port)
                                  << "', wanted '" << state << "'\nlog:\n" << m_daemon->Output();
        return found;
    }

    static constexpr int CLIENT = NetnsTopology::CLIENT;
    std::unique_ptr<NetnsTopology> m_net;
    TempDir m_app, m_data;
    std::unique_ptr<Daemon> m_daemon;
    int m_port = 0;
};

TEST_F(DiagnosisNetwork, ServerDownBadNameAndBadRouter)
{
    int target = m_net->TargetNode();
    int open = ListenIn(m_net->Namespace(target), 8000);
    ASSERT_GE(open, 0);
    Start({{"target", 8000}, {"target", 8001}, {"ghost", 80}});

    ASSERT_TRUE(WaitForRow("target", 8000, "Good|"));
    ASSERT_TRUE(WaitForRow("target", 8001, "Bad|Server down"));
    ASSERT_TRUE(WaitForRow("ghost", 80, "Unknown|Bad name"));
    // The good poll traced the route: router2, then the target.
    ASSERT_TRUE(m_daemon->WaitForOutput("  ..refresh was ok.\n", std::chrono::seconds(30)));

    // Router2 goes silent: the first probe that goes unanswered is the one
    // router2 answered during the trace, and router2 is blamed.
    ASSERT_TRUE(m_net->SetSilent(m_net->RouterNode(2), true));
    const std::string router2 = m_net->AddressText(m_net->RouterNode(2));
    ASSERT_TRUE(WaitForRow("target", 8000, "Unknown|Bad router " + router2, 60));

    // The unresolvable name never set off a search for a bad router.
    EXPECT_EQ(m_daemon->Output().find("Unable to lookup host address 'ghost'"), std::string::npos);

    ASSERT_EQ(m_daemon->Stop(SIGTERM), 0);
    close(open);
    auto samples = ReadSamples(m_data.File("v1.0-target-8000.dat"));
    ASSERT_FALSE(samples.empty());
    const PollSample& last = samples.back();
    EXPECT_EQ(last.m_status, PollSample::KELM_BAD_ROUTER);
    EXPECT_EQ(last.m_routerAddress, m_net->Address(m_net->RouterNode(2)));
    // A connection that waited for its time-out is logged with the whole
    // seconds it took, which the sample carries too.
    EXPECT_GE(last.m_connectSeconds, 1);
    const std::string seconds = TimePeriod(static_cast<uint32_t>(last.m_connectSeconds)).GetText();
    EXPECT_NE(m_daemon->Output().find("POLL THREAD:Connect returned after " + seconds + " ret val: 0target\n"),
              std::string::npos)
        << seconds;
}

TEST_F(DiagnosisNetwork, InternetOutageSparesOneHopServers)
{
    int target = m_net->TargetNode();
    int router2 = m_net->RouterNode(2);
    int nearby = ListenIn(m_net->Namespace(router2), 8002);
    int far = ListenIn(m_net->Namespace(target), 8000);
    ASSERT_GE(nearby, 0);
    ASSERT_GE(far, 0);
    Start({{"router2", 8002}, {"target", 8000}});
    ASSERT_TRUE(WaitForRow("router2", 8002, "Good|"));
    ASSERT_TRUE(WaitForRow("target", 8000, "Good|"));
    // Both routes traced: router2 answers at the first recorded hop.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string log = m_daemon->Output();
            size_t ok = 0;
            for (size_t at = log.find("..refresh was ok."); at != std::string::npos;
                 at = log.find("..refresh was ok.", at + 1))
                ++ok;
            return ok >= 2;
        },
        std::chrono::seconds(30)));

    // Router1 (the reference host, and the way to everything) goes silent.
    ASSERT_TRUE(m_net->SetSilent(m_net->RouterNode(1), true));
    // The far server: the Internet check fails.
    ASSERT_TRUE(WaitForRow("target", 8000, "Unknown|No Internet", 60));
    // The one-hop server: the Internet is not asked; its name resolves.
    ASSERT_TRUE(WaitForRow("router2", 8002, "Bad|Server down", 60));
    close(nearby);
    close(far);
}

TEST_F(DiagnosisNetwork, ReferenceSilentWithoutARoute)
{
    ASSERT_TRUE(m_net->SetSilent(m_net->RouterNode(1), true));
    Start({{"target", 8000}});
    ASSERT_TRUE(WaitForRow("target", 8000, "Unknown|No Internet"));
}

}  // namespace
}  // namespace Kelm
