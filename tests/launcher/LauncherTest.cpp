// Farview Client, the real program: the port it reads from fv.cfg, its two
// output lines and its exit status, with BROWSER pointing at a small script
// that records the URL it is given (no real browser is ever started).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Test::TempDir;

const std::string CONFIG_HEADER = "// fv.cfg\n// File version follows on next line.\n11\n\n";

struct ClientRun {
    int status = -1;
    std::string output;  // standard output only
};

std::string ReadAll(int descriptor)
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(descriptor, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(descriptor);
    return text;
}

// Runs the client with exactly this environment; standard error is dropped.
ClientRun RunClient(const std::map<std::string, std::string>& environment)
{
#ifndef FARVIEW_CLIENT_BINARY
    ADD_FAILURE() << "farview-client is not built";
    return {};
#else
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : environment) envStrings.push_back(key + "=" + value);
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* value = getenv(keep)) envStrings.push_back(std::string(keep) + "=" + value);
    }
    std::vector<char*> envPointers;
    for (std::string& each : envStrings) envPointers.push_back(each.data());
    envPointers.push_back(nullptr);
    std::string binary = FARVIEW_CLIENT_BINARY;
    char* argv[] = {binary.data(), nullptr};

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    ClientRun run;
    if (spawned != 0) {
        close(pipeEnds[0]);
        ADD_FAILURE() << "cannot start " << binary;
        return run;
    }
    run.output = ReadAll(pipeEnds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
#endif
}

// A stand-in browser: records its arguments, one per line, prints a line of
// its own (which must not reach the client's output) and exits with `code`.
std::string MakeOpener(const TempDir& folder, int code)
{
    std::string path = folder.File("opener.sh");
    folder.Write("opener.sh", "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" + folder.File("opened") +
                                  "'\necho opener says hello\nexit " + std::to_string(code) + "\n");
    chmod(path.c_str(), 0755);
    return path;
}

std::string Expected(int port, int result)
{
    return "Launch URL: http://localhost:" + std::to_string(port) + "/index.html\nLaunch result: " +
           std::to_string(result) + "\n";
}

TEST(Launcher, PortFromTheConfiguration)
{
    struct Case {
        const char* config;  // fv.cfg content, nullptr for no file
        int port;
    };
    const Case cases[] = {
        {nullptr, 8080},
        {"port 8081\n", 8081},
        {"port 8081.9\n", 8081},
        {"other 1\n", 8080},
        {"port 9000\nport 9001\n", 9001},
        {"port abc\n", 0},
        {"port 1e20\n", 0},
    };
    for (const Case& c : cases) {
        TempDir app, bin;
        if (c.config) app.Write("fv.cfg", CONFIG_HEADER + c.config);
        std::string opener = MakeOpener(bin, 0);
        ClientRun run = RunClient({{"FARVIEW_APP_DIR", app.Path()}, {"BROWSER", opener}, {"PATH", bin.Path()}});
        const char* shown = c.config ? c.config : "(no fv.cfg)";
        EXPECT_EQ(run.status, 0) << shown;
        EXPECT_EQ(run.output, Expected(c.port, 0)) << shown;
        EXPECT_EQ(bin.Read("opened"), "http://localhost:" + std::to_string(c.port) + "/index.html\n") << shown;
    }
}

TEST(Launcher, DamagedConfigurationGivesTheDefaultAndTwoLines)
{
    // Without its version line the first data line is taken as the version;
    // an empty file has no version at all.
    for (const char* config : {"port 8081\n", "", "// only a comment\n"}) {
        TempDir app, bin;
        app.Write("fv.cfg", config);
        std::string opener = MakeOpener(bin, 0);
        ClientRun run = RunClient({{"FARVIEW_APP_DIR", app.Path()}, {"BROWSER", opener}, {"PATH", bin.Path()}});
        EXPECT_EQ(run.status, 0) << config;
        EXPECT_EQ(run.output, Expected(8080, 0)) << config;
    }
}

TEST(Launcher, FailuresShowOnlyInTheResultLine)
{
    TempDir app, bin;
    app.Write("fv.cfg", CONFIG_HEADER + "port 8081\n");
    // The opener fails.
    ClientRun run = RunClient({{"FARVIEW_APP_DIR", app.Path()}, {"BROWSER", MakeOpener(bin, 3)}, {"PATH", bin.Path()}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, Expected(8081, 3));
    // The opener does not exist.
    run = RunClient({{"FARVIEW_APP_DIR", app.Path()}, {"BROWSER", bin.File("missing")}, {"PATH", bin.Path()}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, Expected(8081, -2));
    // No BROWSER, and no xdg-open on the PATH.
    run = RunClient({{"FARVIEW_APP_DIR", app.Path()}, {"PATH", bin.Path()}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, Expected(8081, -2));
}

TEST(Launcher, XdgOpenIsTheDefaultOpener)
{
    TempDir app, bin;
    std::string opener = MakeOpener(bin, 0);
    ASSERT_EQ(symlink(opener.c_str(), bin.File("xdg-open").c_str()), 0);
    ClientRun run = RunClient({{"FARVIEW_APP_DIR", app.Path()}, {"PATH", bin.Path()}, {"BROWSER", ""}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, Expected(8080, 0));
    EXPECT_EQ(bin.Read("opened"), "http://localhost:8080/index.html\n");
}

}  // namespace
}  // namespace Kelm
