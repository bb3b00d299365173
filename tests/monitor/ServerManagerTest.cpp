// The server registry against a real server.txt in a temporary data folder:
// what loads, what a failed load leaves and how it is retried, the exact
// bytes saved, adding and deleting, routes per host name, a save that fails
// half-way, and many threads changing the list at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

#include "foundation/Locations.h"
#include "monitor/ServerManager.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Kelm::Test::CaptureLog;
using Kelm::Test::FileExists;
using Kelm::Test::ReadFile;
using Kelm::Test::TempDir;
using Kelm::Test::WriteFile;

const std::string HEADER = "// server.txt\n// File version follows on next line.\n11\n\n";

using Entry = std::pair<std::string, int>;

std::vector<Entry> Entries(const std::vector<SharedPtr<Server>>& servers)
{
    std::vector<Entry> entries;
    for (const SharedPtr<Server>& server : servers) entries.emplace_back(server->GetName(), server->GetPort());
    return entries;
}

PollSample MakeSample(uint32_t time)
{
    PollSample sample;
    sample.m_time = Time(time);
    sample.m_status = PollSample::KELM_GOOD;
    return sample;
}

std::vector<PollSample> All(ServerData& store)
{
    std::vector<PollSample> out;
    store.GetSamples(TimeRange(Time(0), Time(0xFFFFFFFFu)), out);
    return out;
}

class ServerManagerTest : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("FARVIEW_DATA_DIR", m_data.Path().c_str(), 1);
        // The data folder is settled once per process: each test runs alone.
        ASSERT_EQ(GetDataFolder(), m_data.Path());
    }

    std::string ListPath() const { return m_data.File("server.txt"); }
    void WriteList(const std::string& content) const { WriteFile(ListPath(), content); }

    TempDir m_data;
};

TEST_F(ServerManagerTest, LoadsTheServerList)
{
    struct Case {
        const char* what;
        const char* content;  // null: no server.txt
        std::vector<Entry> expected;
        const char* failure;  // the failure line, or null when the load succeeds
    };
    const std::string H = HEADER;
    const std::string twoEntries = H + "2\nalpha\n80\nbeta\n8080\n";
    const std::string counted0 = H + "0\n";
    const std::string oneOfTwo = H + "2\nalpha\n80\n";
    const std::string nameOnly = H + "1\nalpha\n";
    const std::string badPort = H + "1\nalpha\nabc\n";
    const std::string noisy = "// server.txt\n\n  // a comment\n11\n\n// count\n2\n\n   alpha   \n// port next\n 80 \n\nbeta\n\n8080\n// end\n";
    const std::string extra = H + "1\nalpha\n80\nbeta\n8080\n";
    const std::string crlf = "// server.txt\r\n11\r\n\r\n1\r\nalpha\r\n80\r\n";
    const std::string noCount = H;
    const Case cases[] = {
        {"two entries", twoEntries.c_str(), {{"alpha", 80}, {"beta", 8080}}, nullptr},
        {"a count of 0", counted0.c_str(), {}, nullptr},
        {"no file", nullptr, {}, "Failed to open servers file.\n"},
        {"an empty file", "", {}, "Failed to open servers file.\n"},
        {"no count", noCount.c_str(), {}, "Expected number of servers.\n"},
        {"one entry of two", oneOfTwo.c_str(), {{"alpha", 80}}, "Expected server name.\n"},
        {"a name without port", nameOnly.c_str(), {}, "Expected port number.\n"},
        {"a port of letters", badPort.c_str(), {{"alpha", 0}}, nullptr},
        {"comments, blanks and padding", noisy.c_str(), {{"alpha", 80}, {"beta", 8080}}, nullptr},
        {"entries past the count", extra.c_str(), {{"alpha", 80}}, nullptr},
        {"CR LF line ends", crlf.c_str(), {{"alpha", 80}}, nullptr},
    };
    for (const Case& each : cases) {
        unlink(ListPath().c_str());
        if (each.content) WriteList(each.content);
        ServerManager manager;
        std::vector<SharedPtr<Server>> servers;
        std::string log = CaptureLog([&] { servers = manager.GetServers(); });
        EXPECT_EQ(Entries(servers), each.expected) << each.what;
        if (each.failure) {
            EXPECT_NE(log.find(each.failure), std::string::npos) << each.what << ": " << log;
        } else {
            EXPECT_EQ(log.find("Failed"), std::string::npos) << each.what << ": " << log;
            EXPECT_EQ(log.find("Expected"), std::string::npos) << each.what << ": " << log;
        }
        // Every listed server has its store and its route.
        for (const SharedPtr<Server>& server : servers) {
            EXPECT_TRUE(manager.GetServerData(server)) << each.what;
            EXPECT_TRUE(manager.GetRoute(server->GetName())) << each.what;
        }
    }
}

TEST_F(ServerManagerTest, FailedLoadIsRetriedWithoutListingTwice)
{
    WriteList(HEADER + "2\nalpha\n80\n");
    ServerManager manager;
    std::string log = CaptureLog([&] { EXPECT_EQ(Entries(manager.GetServers()), (std::vector<Entry>{{"alpha", 80}})); });
    EXPECT_NE(log.find("Expected server name.\n"), std::string::npos) << log;
    SharedPtr<Server> first = manager.GetServer("alpha", 80);
    SharedPtr<ServerData> firstStore = manager.GetServerData(first);

    // The next GetServers reads again and fails the same way.
    log = CaptureLog([&] { EXPECT_EQ(Entries(manager.GetServers()), (std::vector<Entry>{{"alpha", 80}})); });
    EXPECT_NE(log.find("Expected server name.\n"), std::string::npos) << log;

    // Mended, it loads the rest; alpha keeps its object and its store.
    WriteList(HEADER + "2\nALPHA\n80\nbeta\n8080\n");
    log = CaptureLog([&] {
        EXPECT_EQ(Entries(manager.GetServers()), (std::vector<Entry>{{"alpha", 80}, {"beta", 8080}}));
    });
    EXPECT_EQ(log.find("Expected"), std::string::npos) << log;
    EXPECT_EQ(manager.GetServer("alpha", 80), first);
    EXPECT_EQ(manager.GetServerData(first), firstStore);

    // Loaded now: the file is not read again.
    WriteList(HEADER + "0\n");
    EXPECT_EQ(manager.GetServers().size(), 2u);
}

TEST_F(ServerManagerTest, SavesTheListExactly)
{
    ServerManager manager;
    EXPECT_TRUE(manager.GetServers().empty());
    EXPECT_TRUE(manager.AddServer(new Server("alpha", 80)));
    EXPECT_TRUE(manager.AddServer(new Server("beta.example.com", 8080)));
    EXPECT_EQ(ReadFile(ListPath()), HEADER + "2\nalpha\n80\nbeta.example.com\n8080\n");
    EXPECT_FALSE(FileExists(m_data.File("server.txt.tmp")));

    EXPECT_TRUE(manager.DeleteServer("alpha", 80));
    EXPECT_EQ(ReadFile(ListPath()), HEADER + "1\nbeta.example.com\n8080\n");
    EXPECT_TRUE(manager.DeleteServer("beta.example.com", 8080));
    EXPECT_EQ(ReadFile(ListPath()), HEADER + "0\n");

    // And what was saved loads again.
    EXPECT_TRUE(manager.AddServer(new Server("gamma", 443)));
    ServerManager again;
    EXPECT_EQ(Entries(again.GetServers()), (std::vector<Entry>{{"gamma", 443}}));
}

TEST_F(ServerManagerTest, AddRefusesAServerAlreadyListed)
{
    ServerManager manager;
    manager.GetServers();
    EXPECT_TRUE(manager.AddServer(new Server("alpha", 80)));
    std::string log = CaptureLog([&] { EXPECT_FALSE(manager.AddServer(new Server("ALPHA", 80))); });
    EXPECT_NE(log.find("ALPHA port 80"), std::string::npos) << log;
    EXPECT_TRUE(manager.AddServer(new Server("alpha", 8080)));
    EXPECT_EQ(Entries(manager.GetServers()), (std::vector<Entry>{{"alpha", 80}, {"alpha", 8080}}));
}

TEST_F(ServerManagerTest, AddBeforeTheFirstLoadKeepsTheListOnDisk)
{
    WriteList(HEADER + "1\nalpha\n80\n");
    ServerManager manager;
    EXPECT_TRUE(manager.AddServer(new Server("beta", 80)));
    EXPECT_EQ(ReadFile(ListPath()), HEADER + "2\nalpha\n80\nbeta\n80\n");
    EXPECT_EQ(Entries(manager.GetServers()), (std::vector<Entry>{{"alpha", 80}, {"beta", 80}}));
}

TEST_F(ServerManagerTest, AddWhileTheFileIsMissingThenLoadsOnce)
{
    ServerManager manager;
    std::string log = CaptureLog([&] { manager.GetServers(); });
    EXPECT_NE(log.find("Failed to open servers file.\n"), std::string::npos);
    EXPECT_TRUE(manager.AddServer(new Server("alpha", 80)));
    // The save wrote the file, so the pending load now succeeds: alpha once.
    log = CaptureLog([&] { EXPECT_EQ(Entries(manager.GetServers()), (std::vector<Entry>{{"alpha", 80}})); });
    EXPECT_EQ(log.find("Failed"), std::string::npos) << log;
}

TEST_F(ServerManagerTest, DeleteRules)
{
    WriteList(HEADER + "3\nalpha\n80\nbeta\n80\nalpha\n80\n");
    ServerManager manager;
    std::vector<SharedPtr<Server>> servers = manager.GetServers();
    ASSERT_EQ(servers.size(), 3u);

    // An unknown server: false, the message, and the file is not touched.
    struct stat before, after;
    ASSERT_EQ(stat(ListPath().c_str(), &before), 0);
    std::string log = CaptureLog([&] { EXPECT_FALSE(manager.DeleteServer("ghost", 80)); });
    EXPECT_EQ(log, "Attempt to delete server which is not managed.\nghost port 80\n");
    EXPECT_FALSE(manager.DeleteServer("alpha", 81));
    ASSERT_EQ(stat(ListPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(ReadFile(ListPath()), HEADER + "3\nalpha\n80\nbeta\n80\nalpha\n80\n");

    // Listed twice: the first entry goes, the second keeps its store. The
    // name is matched without regard to case.
    EXPECT_TRUE(manager.DeleteServer("Alpha", 80));
    std::vector<SharedPtr<Server>> left = manager.GetServers();
    ASSERT_EQ(Entries(left), (std::vector<Entry>{{"beta", 80}, {"alpha", 80}}));
    EXPECT_TRUE(left[1] == servers[2]);
    EXPECT_TRUE(manager.GetServerData(left[1]));
    EXPECT_EQ(ReadFile(ListPath()), HEADER + "2\nbeta\n80\nalpha\n80\n");

    EXPECT_TRUE(manager.DeleteServer("alpha", 80));
    log = CaptureLog([&] { EXPECT_FALSE(manager.GetServerData(servers[0])); });
    EXPECT_EQ(log, "*** Bad server data! alpha\n");
}

TEST_F(ServerManagerTest, DeleteThenAddContinuesTheSameDataFile)
{
    ServerManager manager;
    manager.GetServers();
    ASSERT_TRUE(manager.AddServer(new Server("alpha", 80)));
    SharedPtr<Server> server = manager.GetServer("alpha", 80);
    SharedPtr<ServerData> store = manager.GetServerData(server);
    for (uint32_t i = 0; i < 14; ++i) store->AddSample(MakeSample(1200 + 120 * i));  // 11 written, 3 pending

    ASSERT_TRUE(manager.DeleteServer("alpha", 80));
    // Whoever still holds the deleted server and its store can use them.
    EXPECT_EQ(server->GetName(), "alpha");
    EXPECT_EQ(All(*store).size(), 14u);

    ASSERT_TRUE(manager.AddServer(new Server("alpha", 80)));
    SharedPtr<ServerData> again = manager.GetServerData(manager.GetServer("alpha", 80));
    ASSERT_TRUE(again);
    EXPECT_FALSE(again == store);
    EXPECT_EQ(again->GetPath(), store->GetPath());
    EXPECT_EQ(All(*again).size(), 14u);  // the pending three were written at the deletion
}

TEST_F(ServerManagerTest, OneRoutePerHostName)
{
    WriteList(HEADER + "2\nalpha\n80\nalpha\n8080\n");
    ServerManager manager;
    manager.GetServers();
    SharedPtr<Route> route = manager.GetRoute("alpha");
    ASSERT_TRUE(route);
    EXPECT_EQ(route->GetHostName(), "alpha");

    ASSERT_TRUE(manager.AddServer(new Server("alpha", 443)));
    ASSERT_TRUE(manager.AddServer(new Server("Alpha", 8443)));
    ASSERT_TRUE(manager.AddServer(new Server("beta", 80)));
    EXPECT_TRUE(manager.GetRoute("alpha") == route);
    EXPECT_TRUE(manager.GetRoute("ALPHA") == route);
    EXPECT_TRUE(manager.GetRoute("beta"));
    EXPECT_FALSE(manager.GetRoute("beta") == route);

    std::string log = CaptureLog([&] { EXPECT_FALSE(manager.GetRoute("ghost")); });
    EXPECT_EQ(log, "");
    // Routes stay when their servers go.
    ASSERT_TRUE(manager.DeleteServer("beta", 80));
    EXPECT_TRUE(manager.GetRoute("beta"));
}

TEST_F(ServerManagerTest, LookUpsIgnoreTheCaseOfNames)
{
    WriteList(HEADER + "2\nAlpha.Example.com\n80\nbeta\n8080\n");
    ServerManager manager;
    std::vector<SharedPtr<Server>> servers = manager.GetServers();
    EXPECT_TRUE(manager.GetServer("alpha.example.com", 80) == servers[0]);
    EXPECT_TRUE(manager.GetServer("BETA", 8080) == servers[1]);
    std::string log = CaptureLog([&] { EXPECT_FALSE(manager.GetServer("beta", 80)); });
    EXPECT_EQ(log, "GetServer failed to look up server beta port 80\n");
    // The store is filed under the listed spelling.
    EXPECT_EQ(manager.GetServerData(servers[0])->GetPath(), m_data.File("v1.0-Alpha.Example.com-80.dat"));
}

TEST_F(ServerManagerTest, FailedSaveLeavesTheOldListWhole)
{
    const std::string original = HEADER + "1\nalpha\n80\n";
    WriteList(original);
    ServerManager manager;
    manager.GetServers();
    // Every write to the temporary file fails, as on a full disk.
    ASSERT_EQ(symlink("/dev/full", m_data.File("server.txt.tmp").c_str()), 0);

    std::string log = CaptureLog([&] { EXPECT_FALSE(manager.AddServer(new Server("beta", 80))); });
    EXPECT_NE(log.find("Failed to open server file for writing.\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Failed to save server list.\n"), std::string::npos) << log;
    EXPECT_EQ(ReadFile(ListPath()), original);
    // The server stays listed in memory all the same.
    EXPECT_EQ(manager.GetServers().size(), 2u);

    ASSERT_EQ(symlink("/dev/full", m_data.File("server.txt.tmp").c_str()), 0);
    log = CaptureLog([&] { EXPECT_FALSE(manager.DeleteServer("alpha", 80)); });
    EXPECT_NE(log.find("Failed to save server list.\n"), std::string::npos) << log;
    EXPECT_EQ(ReadFile(ListPath()), original);
}

TEST_F(ServerManagerTest, FlushAllSamplesWritesEveryStore)
{
    WriteList(HEADER + "2\nalpha\n80\nbeta\n80\n");
    ServerManager manager;
    std::vector<SharedPtr<Server>> servers = manager.GetServers();
    for (uint32_t i = 0; i < 5; ++i) manager.GetServerData(servers[0])->AddSample(MakeSample(1200 + 120 * i));
    for (uint32_t i = 0; i < 13; ++i) manager.GetServerData(servers[1])->AddSample(MakeSample(1200 + 120 * i));
    manager.FlushAllSamples();
    EXPECT_EQ(ReadFile(m_data.File("v1.0-alpha-80.dat")).size(), 5u * 16);
    EXPECT_EQ(ReadFile(m_data.File("v1.0-beta-80.dat")).size(), 13u * 16);
}

TEST_F(ServerManagerTest, ManyThreadsChangeTheListAtOnce)
{
    ServerManager* manager = Singleton<ServerManager>::Instance();
    const int THREADS = 4, EACH = 12;
    std::atomic<bool> done{false};

    // Pages and the poller read the list and feed stores all the while.
    std::thread reader([&] {
        uint32_t t = 1200;
        while (!done) {
            for (const SharedPtr<Server>& server : manager->GetServers()) {
                manager->GetServer(server->GetName(), server->GetPort());
                SharedPtr<ServerData> store = manager->GetServerData(server);
                if (store) {
                    store->AddSample(MakeSample(t));
                    std::vector<PollSample> out;
                    store->GetSamples(TimeRange(Time(0), Time(t + 1)), out);
                }
                manager->GetRoute(server->GetName());
            }
            t += 120;
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < THREADS; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < EACH; ++i) {
                EXPECT_TRUE(manager->AddServer(new Server("host" + std::to_string(w) + "-" + std::to_string(i), 80)));
                if (i % 2 == 1) {
                    EXPECT_TRUE(manager->DeleteServer("host" + std::to_string(w) + "-" + std::to_string(i - 1), 80));
                }
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    done = true;
    reader.join();
    manager->FlushAllSamples();

    std::set<Entry> expected;
    for (int w = 0; w < THREADS; ++w) {
        for (int i = 1; i < EACH; i += 2) expected.emplace("host" + std::to_string(w) + "-" + std::to_string(i), 80);
    }
    std::vector<Entry> listed = Entries(manager->GetServers());
    EXPECT_EQ(std::set<Entry>(listed.begin(), listed.end()), expected);
    EXPECT_EQ(listed.size(), expected.size());
    // The file agrees with memory, in the same order.
    ServerManager reread;
    EXPECT_EQ(Entries(reread.GetServers()), listed);
}

}  // namespace
}  // namespace Kelm
