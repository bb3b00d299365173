// The orderly stop writes every pending sample, and the real daemon reads
// the server list before it serves.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Kelm::Test::Daemon;
using Kelm::Test::ReadFile;
using Kelm::Test::TempDir;

const std::string HEADER = "// server.txt\n// File version follows on next line.\n11\n\n";

TEST(Stop, StopSignalWritesEveryPendingSample)
{
    for (int signal : {SIGTERM, SIGINT}) {
        TempDir app, data;
        data.Write("server.txt", HEADER + "2\nlocalhost\n80\n127.0.0.1\n8080\n");
        // 25 samples each: two batches written at once, four still pending.
        Daemon helper({.arguments = {"25"}, .appDir = app.Path(), .dataDir = data.Path(), .binary = FLUSH_HELPER_BINARY});
        ASSERT_TRUE(helper.WaitForOutput("SAMPLES ADDED\n")) << helper.Output();
        EXPECT_EQ(data.Read("v1.0-localhost-80.dat").size(), 22u * 16);

        EXPECT_EQ(helper.Stop(signal), 0) << helper.Output();
        EXPECT_NE(helper.Output().find("Farview stopping.\n"), std::string::npos) << helper.Output();
        for (const char* file : {"v1.0-localhost-80.dat", "v1.0-127.0.0.1-8080.dat"}) {
            const std::string bytes = data.Read(file);
            ASSERT_EQ(bytes.size(), 25u * 16) << file << " after signal " << signal;
            for (uint32_t i = 0; i < 25; ++i) {
                uint32_t time = 0;
                for (int k = 3; k >= 0; --k) time = time << 8 | static_cast<unsigned char>(bytes[16 * i + k]);
                EXPECT_EQ(time, 1200 + 120 * i) << file << " record " << i;
                EXPECT_EQ(static_cast<unsigned char>(bytes[16 * i + 8]), i) << file << " record " << i;
            }
        }
    }
}

TEST(Stop, DaemonReadsTheServerListAtStartAndStopsCleanly)
{
    struct Case {
        const char* list;  // null: no server.txt
        const char* expected;
    };
    const std::string oneOfTwo = HEADER + "2\nlocalhost\n80\n";
    const Case cases[] = {
        {nullptr, "Failed to open servers file.\n"},
        {oneOfTwo.c_str(), "Expected server name.\n"},
    };
    for (const Case& each : cases) {
        TempDir app, data;
        if (each.list) data.Write("server.txt", each.list);
        Daemon daemon({.arguments = {"0"}, .appDir = app.Path(), .dataDir = data.Path()});
        EXPECT_TRUE(daemon.WaitForOutput(each.expected)) << daemon.Output();
        EXPECT_EQ(daemon.Stop(SIGTERM), 0) << daemon.Output();
        EXPECT_NE(daemon.Output().find("Farview stopping.\n"), std::string::npos) << daemon.Output();
    }
}

}  // namespace
}  // namespace Kelm
