// Helpers shared by the test programs: real temporary folders, waiting on a
// condition with a deadline (never a fixed sleep), capturing the log, a free
// loopback port, a raw HTTP exchange, and the real daemon as a child process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Kelm::Test {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }  // ends with "/"
    std::string File(const std::string& name) const { return m_path + name; }
    void Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// Polls the condition until it holds or the deadline passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Holds the process clock (foundation/Clock.h) at a second the test sets,
// from construction until destruction, when the system clock is back.
class FakeClock {
public:
    explicit FakeClock(uint32_t now = 0);
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;
    FakeClock& operator=(uint32_t now);
    uint32_t Now() const;
};

// Runs the body with standard output captured and returns what it printed.
std::string CaptureLog(const std::function<void()>& body);

// A loopback TCP port nobody listens on at the moment of the call.
int FreePort();

// A connected loopback client with Nagle off, so each send leaves as its
// own segment; -1 when the connection failed.
int ConnectLoopback(int port);
// Sends every byte; false when a send failed.
bool SendBytes(int descriptor, const std::string& bytes);
// Everything the peer sends until it closes (or the time-out passes).
std::string ReadToClose(int descriptor, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Sends the bytes to 127.0.0.1:port, half-closes nothing, reads until the
// peer closes (or the time-out passes) and returns everything received.
std::string HttpExchange(int port, const std::string& request,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));
// A plain GET of the path with the usual headers.
std::string HttpGet(int port, const std::string& path);
// A form post of the body to the path.
std::string HttpPost(int port, const std::string& path, const std::string& body,
                     const std::vector<std::string>& extraHeaders = {});
// The body of an HTTP answer (after the blank line), or "" when there is none.
std::string BodyOf(const std::string& answer);

bool IsRoot();

// The real daemon binary as a child process, its standard output and error
// collected by a reader thread.
class Daemon {
public:
    struct Options {
        std::vector<std::string> arguments = {};             // after the program name
        std::map<std::string, std::string> environment = {};  // added to a clean one
        std::string appDir = {};                             // FARVIEW_APP_DIR when set
        std::string dataDir = {};                            // FARVIEW_DATA_DIR when set
        std::string netns = {};                              // run inside this namespace
        std::string binary = {};                             // default: build/farview
    };

    explicit Daemon(const Options& options);
    ~Daemon();  // kills the process if it still runs
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    pid_t Pid() const { return m_pid; }
    std::string Output();  // everything logged so far
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds deadline = std::chrono::seconds(20));
    // Waits for the process to end (up to the deadline) and returns its exit
    // status, or -1 when it did not end or ended by a signal.
    int WaitForExit(std::chrono::milliseconds deadline = std::chrono::seconds(20));
    int Stop(int signal);  // sends the signal, then WaitForExit
    bool Running();

private:
    void ReadOutput(int descriptor);

    pid_t m_pid = -1;
    int m_status = -1;
    bool m_reaped = false;
    std::mutex m_mutex;
    std::string m_output;  // guarded by m_mutex
    std::thread m_reader;
};

}  // namespace Kelm::Test
