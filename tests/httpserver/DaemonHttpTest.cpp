// The HTTP server inside the real daemon: hostile paths, a full pool of idle
// clients, clients that vanish, and a port that is already taken.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/httpserver/HttpTestSupport.h"

namespace Kelm::Test {
namespace {

class DaemonHttpTest : public ::testing::Test {
protected:
    void StartDaemon()
    {
        m_port = FreePort();
        Daemon::Options options;
        options.arguments = {std::to_string(m_port)};
        options.appDir = m_app.Path();
        options.dataDir = m_data.Path();
        m_daemon = std::make_unique<Daemon>(options);
        ASSERT_TRUE(m_daemon->WaitForOutput("Listening on port " + std::to_string(m_port) + "\n"));
        ASSERT_TRUE(WaitUntil([&] {
            int probe = ConnectLoopback(m_port);
            if (probe < 0) return false;
            close(probe);
            return true;
        }));
    }

    std::string Get(const std::string& target)
    {
        return HttpExchange(m_port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }

    int Count(const std::string& text)
    {
        std::string output = m_daemon->Output();
        int count = 0;
        for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++count;
        return count;
    }

    // User plus system time of the daemon so far, in clock ticks.
    long CpuTicks()
    {
        std::ifstream in("/proc/" + std::to_string(m_daemon->Pid()) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int index = 3; fields >> field; ++index) {
            if (index == 14) utime = std::stol(field);
            if (index == 15) {
                stime = std::stol(field);
                break;
            }
        }
        return utime + stime;
    }

    TempDir m_app;
    TempDir m_data;
    int m_port = 0;
    std::unique_ptr<Daemon> m_daemon;
};

TEST_F(DaemonHttpTest, HostilePathsGet404AndNothingOfTheFile)
{
    const std::string secret = "SECRET-CONTENT-0123456789";
    m_app.Write("fv1.png", "page image");
    m_data.Write("chart-1765000000-1.png", "chart image");
    m_data.Write("server.txt", secret);
    m_data.Write("v1.0-alpha-80.dat", secret);
    m_app.Write("inner.txt", secret);
    symlink("/etc/passwd", m_app.File("passwd.png").c_str());
    StartDaemon();
    ASSERT_TRUE(WaitUntil([&] { return FileExists(m_data.File("Farview.pid")); }));

    EXPECT_EQ(BodyOf(Get(m_app.File("fv1.png"))), "page image");
    EXPECT_EQ(BodyOf(Get(m_data.File("chart-1765000000-1.png"))), "chart image");

    std::string dataName = m_data.Path().substr(0, m_data.Path().size() - 1);
    dataName = dataName.substr(dataName.rfind('/') + 1);
    const std::string hostile[] = {
        "/etc/passwd",
        m_app.Path() + "../" + dataName + "/server.txt",
        m_app.Path() + "../../etc/passwd",
        m_app.Path() + "%2e%2e/" + dataName + "/server.txt",
        m_app.Path() + "%2E%2E%2F" + dataName + "%2Fserver.txt",
        m_app.File("passwd.png"),
        m_app.File("fv1.png") + std::string(1, '\0'),
        m_app.Path() + "..\\" + dataName + "\\server.txt",
        m_data.File("server.txt"),
        m_data.File("Farview.pid"),
        m_data.File("v1.0-alpha-80.dat"),
    };
    for (const std::string& path : hostile) {
        SCOPED_TRACE(path);
        std::string answer = Get(path);
        EXPECT_EQ(StatusOf(answer), "404");
        EXPECT_EQ(answer.find(secret), std::string::npos);
        EXPECT_EQ(answer.find("root:"), std::string::npos);
    }
    EXPECT_TRUE(WaitUntil([&] { return Count("Failed to open file.\n") >= static_cast<int>(std::size(hostile)); }));
}

TEST_F(DaemonHttpTest, EveryAnswerHasAStatusLine)
{
    StartDaemon();
    // No page handler may be registered yet; either way there is an answer
    // with a status line, never a bare body.
    std::string answer = Get("/index.html");
    EXPECT_FALSE(StatusOf(answer).empty()) << answer.substr(0, 200);
    EXPECT_EQ(StatusOf(Get("/no-such-file.png")), "404");
}

TEST_F(DaemonHttpTest, TenIdleClientsHoldThePoolOnlyUntilTheDeadline)
{
    m_app.Write("fv1.png", "page image");
    StartDaemon();

    std::vector<int> idle;
    for (int n = 0; n < 10; ++n) {
        int client = ConnectLoopback(m_port);
        ASSERT_GE(client, 0);
        idle.push_back(client);
    }
    // Every worker serves one of them (the probe of StartDaemon took one
    // worker a moment; it is back at its gate).
    ASSERT_TRUE(WaitUntil([&] { return Count("Gate unlocked, serving client.") >= 11; }));

    long before = CpuTicks();
    auto start = std::chrono::steady_clock::now();
    int eleventh = ConnectLoopback(m_port);
    ASSERT_GE(eleventh, 0);
    ASSERT_TRUE(SendBytes(eleventh, "GET " + m_app.File("fv1.png") + " HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(m_daemon->WaitForOutput("Accepted a new connection.\n"));
    std::string answer = ReadToClose(eleventh, std::chrono::seconds(30));
    auto waited = std::chrono::steady_clock::now() - start;
    long used = CpuTicks() - before;
    close(eleventh);

    EXPECT_EQ(BodyOf(answer), "page image");
    // Answered once the idle clients' ten seconds ran out, not before.
    EXPECT_GE(waited, std::chrono::seconds(5));
    // While everything waited, the daemon slept: a spinning accept loop
    // would burn all of those seconds.
    long ticksPerSecond = sysconf(_SC_CLK_TCK);
    EXPECT_LT(used, ticksPerSecond) << "CPU ticks used while the pool was full: " << used;
    EXPECT_GE(Count("GetRawString failed.\n"), 1);
    for (int client : idle) close(client);
}

TEST_F(DaemonHttpTest, ClientClosingBeforeReadingDoesNotEndTheDaemon)
{
    std::string big(3 * 1000 * 1000, 'z');
    m_data.Write("chart-2-2.png", big);
    StartDaemon();
    for (int round = 0; round < 5; ++round) {
        int client = ConnectLoopback(m_port);
        ASSERT_GE(client, 0);
        SendBytes(client, "GET " + m_data.File("chart-2-2.png") + " HTTP/1.0\r\n\r\n");
        // Wait for the answer to start, then leave with a reset (zero-time
        // linger): the worker's remaining sends fail at once.
        char first;
        ASSERT_EQ(recv(client, &first, 1, 0), 1);
        linger abort{1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(client);
    }
    EXPECT_TRUE(WaitUntil([&] { return Count("Finished writing file to socket.") >= 5; }));
    EXPECT_TRUE(m_daemon->Running());
    std::string answer = Get(m_data.File("chart-2-2.png"));
    EXPECT_EQ(StatusOf(answer), "200");
    EXPECT_TRUE(BodyOf(answer) == big);
}

TEST_F(DaemonHttpTest, SecondDaemonOnAPortInUseExitsWithStatusOne)
{
    StartDaemon();
    TempDir otherData;
    Daemon::Options options;
    options.arguments = {std::to_string(m_port)};
    options.appDir = m_app.Path();
    options.dataDir = otherData.Path();
    Daemon second(options);
    EXPECT_EQ(second.WaitForExit(), 1);
    EXPECT_NE(second.Output().find("HTTP SERVER: cannot listen on port " + std::to_string(m_port) +
                                   ": Address already in use\n"),
              std::string::npos)
        << second.Output();
    EXPECT_TRUE(m_daemon->Running());
}

}  // namespace
}  // namespace Kelm::Test
