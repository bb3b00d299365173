#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "foundation/Clock.h"
#include "foundation/Locations.h"

extern char** environ;

namespace Kelm {
// The test programs stand in for the daemon: same name, same data folder rule.
const char* const ApplicationName = "Farview";
}  // namespace Kelm

namespace Kelm::Test {

TempDir::TempDir()
{
    char pattern[] = "/tmp/farview-test-XXXXXX";
    char* made = mkdtemp(pattern);
    if (made == nullptr) {
        ADD_FAILURE() << "mkdtemp failed: " << std::strerror(errno);
        m_path = "/tmp/";
        return;
    }
    m_path = std::string(made) + "/";
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (m_path != "/tmp/") std::filesystem::remove_all(m_path, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const
{
    WriteFile(File(name), content);
}

std::string TempDir::Read(const std::string& name) const
{
    return ReadFile(File(name));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

namespace {
std::atomic<uint32_t> s_fakeSeconds{0};
}  // namespace

FakeClock::FakeClock(uint32_t now)
{
    s_fakeSeconds = now;
    SetClockForTesting([] { return s_fakeSeconds.load(); });
}

FakeClock::~FakeClock()
{
    SetClockForTesting(nullptr);
}

FakeClock& FakeClock::operator=(uint32_t now)
{
    s_fakeSeconds = now;
    return *this;
}

uint32_t FakeClock::Now() const
{
    return s_fakeSeconds;
}

std::string CaptureLog(const std::function<void()>& body)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

int FreePort()
{
    int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    close(descriptor);
    return ntohs(address.sin_port);
}

int ConnectLoopback(int port)
{
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

bool SendBytes(int descriptor, const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(descriptor, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string ReadToClose(int descriptor, std::chrono::milliseconds timeout)
{
    std::string answer;
    auto end = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd waiting{descriptor, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
        ssize_t n = recv(descriptor, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    return answer;
}

std::string HttpExchange(int port, const std::string& request, std::chrono::milliseconds timeout)
{
    int descriptor = ConnectLoopback(port);
    if (descriptor < 0) return "";
    SendBytes(descriptor, request);
    std::string answer = ReadToClose(descriptor, timeout);
    close(descriptor);
    return answer;
}

std::string HttpGet(int port, const std::string& path)
{
    return HttpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                  "\r\nConnection: close\r\n\r\n");
}

std::string HttpPost(int port, const std::string& path, const std::string& body,
                     const std::vector<std::string>& extraHeaders)
{
    std::string request = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\nConnection: close\r\n";
    for (const std::string& header : extraHeaders) request += header + "\r\n";
    return HttpExchange(port, request + "\r\n" + body);
}

std::string BodyOf(const std::string& answer)
{
    size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

bool IsRoot()
{
    return geteuid() == 0;
}

Daemon::Daemon(const Options& options)
{
    std::vector<std::string> argv;
    if (!options.netns.empty()) {
        argv = {"/usr/sbin/ip", "netns", "exec", options.netns};
    }
    argv.push_back(options.binary.empty() ? FARVIEW_BINARY : options.binary);
    for (const std::string& argument : options.arguments) argv.push_back(argument);

    // A small clean environment: what the daemon reads is all set here.
    std::map<std::string, std::string> environment = {
        {"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"},
        {"FARVIEW_REFERENCE_HOST", "127.0.0.1"},
    };
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "TZ", "HOME"}) {
        if (const char* value = std::getenv(keep)) environment[keep] = value;
    }
    if (!options.appDir.empty()) environment["FARVIEW_APP_DIR"] = options.appDir;
    if (!options.dataDir.empty()) environment["FARVIEW_DATA_DIR"] = options.dataDir;
    for (const auto& [key, value] : options.environment) environment[key] = value;

    std::vector<std::string> envStrings;
    for (const auto& [key, value] : environment) envStrings.push_back(key + "=" + value);
    std::vector<char*> argPointers, envPointers;
    for (std::string& each : argv) argPointers.push_back(each.data());
    argPointers.push_back(nullptr);
    for (std::string& each : envStrings) envPointers.push_back(each.data());
    envPointers.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2 failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with no signals blocked, whatever the test program does.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    int result = posix_spawn(&m_pid, argPointers[0], &actions, &attributes, argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeEnds[1]);
    if (result != 0) {
        ADD_FAILURE() << "posix_spawn failed: " << std::strerror(result);
        close(pipeEnds[0]);
        m_pid = -1;
        return;
    }
    m_reader = std::thread(&Daemon::ReadOutput, this, pipeEnds[0]);
}

Daemon::~Daemon()
{
    if (m_pid > 0 && Running()) {
        kill(m_pid, SIGKILL);
        WaitForExit();
    }
    if (m_reader.joinable()) m_reader.join();
}

void Daemon::ReadOutput(int descriptor)
{
    char buffer[8192];
    for (;;) {
        ssize_t n = read(descriptor, buffer, sizeof buffer);
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_output.append(buffer, static_cast<size_t>(n));
    }
    close(descriptor);
}

std::string Daemon::Output()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_output;
}

bool Daemon::WaitForOutput(const std::string& text, std::chrono::milliseconds deadline)
{
    return WaitUntil([&] { return Output().find(text) != std::string::npos; }, deadline);
}

bool Daemon::Running()
{
    if (m_pid <= 0 || m_reaped) return false;
    int status;
    pid_t result = waitpid(m_pid, &status, WNOHANG);
    if (result == m_pid) {
        m_reaped = true;
        m_status = status;
        return false;
    }
    return true;
}

int Daemon::WaitForExit(std::chrono::milliseconds deadline)
{
    if (m_pid <= 0) return -1;
    if (!WaitUntil([&] { return !Running(); }, deadline)) return -1;
    if (m_reader.joinable()) m_reader.join();
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
}

int Daemon::Stop(int signal)
{
    if (m_pid > 0 && Running()) kill(m_pid, signal);
    return WaitForExit();
}

}  // namespace Kelm::Test
