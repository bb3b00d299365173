// Start-up of the real daemon binary: the port rules, the pid file, and the
// orderly stop.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Test::Daemon;
using Test::TempDir;

const std::string CONFIG_HEADER = "// fv.cfg\n// File version follows on next line.\n11\n\n";

TEST(StartUp, PortRules)
{
    struct Case {
        const char* config;  // fv.cfg content, nullptr for none
        std::vector<std::string> arguments;
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, {}, "HTTP SERVER using port 8080\n"},
        {"port 8081.7\n", {}, "HTTP SERVER using port 8081\n"},
        {"port 8081\n", {"9000"}, "HTTP SERVER using port 9000\n"},
        {nullptr, {"letters"}, "HTTP SERVER using port 0\n"},
        {nullptr, {"9001", "9002", "x"}, "HTTP SERVER using port 9001\n"},
        {"port 1e20\n", {}, "HTTP SERVER using port 0\n"},
    };
    for (const Case& c : cases) {
        TempDir app, data;
        if (c.config) app.Write("fv.cfg", CONFIG_HEADER + c.config);
        Daemon daemon({.arguments = c.arguments, .appDir = app.Path(), .dataDir = data.Path()});
        EXPECT_TRUE(daemon.WaitForOutput(c.expected)) << "config " << (c.config ? c.config : "none")
                                                      << "\nlog:\n" << daemon.Output();
    }
}

TEST(StartUp, PidFileIsOverwrittenAndStopIsClean)
{
    TempDir app, data;
    data.Write("Farview.pid", "99999999\nold junk that is longer than a pid\n");
    for (int signal : {SIGTERM, SIGINT}) {
        Daemon daemon({.arguments = {"0"}, .appDir = app.Path(), .dataDir = data.Path()});
        ASSERT_TRUE(Kelm::Test::WaitUntil([&] { return data.Read("Farview.pid") == std::to_string(daemon.Pid()) + "\n"; }))
            << data.Read("Farview.pid");
        EXPECT_EQ(daemon.Stop(signal), 0) << daemon.Output();
        EXPECT_NE(daemon.Output().find("Farview stopping.\n"), std::string::npos);
    }
}

TEST(StartUp, UnwritableDataFolderStillStarts)
{
    TempDir app;
    Daemon daemon({.arguments = {"0"}, .appDir = app.Path(), .dataDir = "/dev/null/farview"});
    EXPECT_TRUE(daemon.WaitForOutput("Couldn't open file pid file for writing.\n")) << daemon.Output();
    EXPECT_TRUE(daemon.Running());
    EXPECT_EQ(daemon.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace Kelm
