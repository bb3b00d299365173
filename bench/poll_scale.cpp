// How the poller holds up with many servers. Starts the real daemon with a
// short poll interval against N servers on loopback (half of them ports this
// program listens on, half ports that refuse) and watches it over several
// grid times:
//
//   on time   the share of (server, tick) pairs with a sample carrying that
//             tick's time, whose poll was logged before the next tick
//   threads   the daemon's peak thread count
//   RSS       the daemon's peak resident memory
//   CPU       the daemon's CPU seconds per tick
//
//     build/bench_poll_scale [N ...]          (default: 100 1000 5000)
//
// Environment: FARVIEW_BINARY (default build/farview), BENCH_INTERVAL
// (default 10), BENCH_TICKS (default 3). Nothing leaves the machine: every
// server is 127.0.0.1 and the reference host is 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Locations.h"
#include "monitor/SampleRecord.h"

namespace Kelm {
const char* const ApplicationName = "Farview";
}

namespace {

using Clock = std::chrono::system_clock;

struct ProcessStats {
    long threads = 0;
    long rssKiB = 0;
    double cpuSeconds = 0;
};

ProcessStats ReadStats(pid_t pid)
{
    ProcessStats stats;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) stats.threads = std::atol(line.c_str() + 8);
        if (line.rfind("VmRSS:", 0) == 0) stats.rssKiB = std::atol(line.c_str() + 6);
    }
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) stime = std::stoull(field);
        }
        stats.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return stats;
}

int Listen()
{
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(descriptor, 4096) != 0) {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

int PortOf(int descriptor)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Accepts and closes whatever arrives on the listeners, so their queues
// never fill.
void Drain(const std::vector<int>& listeners, const std::atomic<bool>& stop)
{
    for (int each : listeners) fcntl(each, F_SETFL, O_NONBLOCK);
    while (!stop) {
        bool any = false;
        for (int each : listeners) {
            for (int client; (client = accept4(each, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                close(client);
                any = true;
            }
        }
        if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

struct Run {
    int servers = 0;
    int ticks = 0;
    double onTime = 0;  // share, 0..1
    long peakThreads = 0;
    long peakRssKiB = 0;
    double cpuPerTick = 0;
};

Run Measure(int count, int interval, int ticks, const std::string& binary)
{
    Run result;
    result.servers = count;
    std::string folder = "/tmp/farview-poll-scale-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder + "/app");
    std::filesystem::create_directories(folder + "/data");

    std::vector<int> listeners;
    std::vector<int> ports;
    for (int i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            int descriptor = Listen();
            if (descriptor < 0) {
                std::fprintf(stderr, "poll_scale: cannot listen (%s)\n", std::strerror(errno));
                std::exit(1);
            }
            listeners.push_back(descriptor);
            ports.push_back(PortOf(descriptor));
        } else {
            // A port nobody listens on: bind, note, close.
            int descriptor = Listen();
            ports.push_back(PortOf(descriptor));
            close(descriptor);
        }
    }
    {
        std::ofstream list(folder + "/data/server.txt");
        list << "// server.txt\n// File version follows on next line.\n11\n\n" << count << "\n";
        for (int port : ports) list << "127.0.0.1\n" << port << "\n";
    }
    std::atomic<bool> stopDrain{false};
    std::thread drain(Drain, std::cref(listeners), std::cref(stopDrain));

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    std::string portArgument = std::to_string(0);
    std::vector<std::string> environment = {
        "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
        "FARVIEW_APP_DIR=" + folder + "/app",
        "FARVIEW_DATA_DIR=" + folder + "/data",
        "FARVIEW_REFERENCE_HOST=127.0.0.1",
        "FARVIEW_POLL_INTERVAL=" + std::to_string(interval),
    };
    std::vector<char*> envPointers;
    for (std::string& each : environment) envPointers.push_back(each.data());
    envPointers.push_back(nullptr);
    std::string program = binary;
    char* argv[] = {program.data(), portArgument.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envPointers.data()) != 0) {
        std::fprintf(stderr, "poll_scale: cannot start %s\n", program.c_str());
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);

    // The log, read as it comes; each poll's line is stamped with its arrival.
    std::mutex logMutex;
    std::vector<Clock::time_point> pollLines;  // guarded by logMutex
    std::thread reader([&] {
        std::string pending;
        char buffer[65536];
        for (;;) {
            ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            auto now = Clock::now();
            pending.append(buffer, static_cast<size_t>(n));
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
                if (pending.compare(start, 12, "POLL THREAD:") == 0) {
                    std::lock_guard<std::mutex> lock(logMutex);
                    pollLines.push_back(now);
                }
            }
            pending.erase(0, start);
        }
        close(pipeEnds[0]);
    });

    // The first grid time is at most interval + 1 seconds away; measure the
    // ticks after it.
    auto secondsNow = [] { return std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count(); };
    long long firstTick = (secondsNow() + 1 + interval) / interval * interval;
    long long endTime = firstTick + static_cast<long long>(ticks) * interval;
    double cpuAtFirst = -1;
    while (secondsNow() < endTime + 1) {
        ProcessStats stats = ReadStats(pid);
        result.peakThreads = std::max(result.peakThreads, stats.threads);
        result.peakRssKiB = std::max(result.peakRssKiB, stats.rssKiB);
        if (cpuAtFirst < 0 && secondsNow() >= firstTick) cpuAtFirst = stats.cpuSeconds;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    double cpuAtEnd = ReadStats(pid).cpuSeconds;
    result.cpuPerTick = (cpuAtEnd - std::max(cpuAtFirst, 0.0)) / ticks;

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    reader.join();
    stopDrain = true;
    drain.join();
    for (int each : listeners) close(each);

    // Samples from the files (the stop wrote the pending ones), and poll
    // lines per tick window from the log.
    std::map<long long, int> onTimeLines;
    {
        std::lock_guard<std::mutex> lock(logMutex);
        for (const auto& stamp : pollLines) {
            long long second = std::chrono::duration_cast<std::chrono::seconds>(stamp.time_since_epoch()).count();
            long long tick = second / interval * interval;
            ++onTimeLines[tick];
        }
    }
    long long onTime = 0;
    for (int port : ports) {
        std::ifstream file(folder + "/data/v1.0-127.0.0.1-" + std::to_string(port) + ".dat", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::vector<Kelm::PollSample> samples;
        Kelm::SampleDecoder().Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), samples);
        std::set<long long> times;
        for (const auto& sample : samples) times.insert(sample.m_time.GetSeconds());
        for (long long tick = firstTick; tick < endTime; tick += interval) {
            if (times.count(tick)) ++onTime;
        }
    }
    // A sample counts as on time when it carries its tick's time and the
    // poll lines of that tick's window cover every server.
    long long covered = 0;
    for (long long tick = firstTick; tick < endTime; tick += interval) {
        covered += std::min<long long>(onTimeLines[tick], count);
    }
    long long expected = static_cast<long long>(count) * ticks;
    result.ticks = ticks;
    result.onTime = expected ? static_cast<double>(std::min(onTime, covered)) / static_cast<double>(expected) : 1;
    std::filesystem::remove_all(folder);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    // Half the servers are listeners in this process.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {100, 1000, 5000};
    const char* binary = std::getenv("FARVIEW_BINARY");
    const char* intervalText = std::getenv("BENCH_INTERVAL");
    const char* ticksText = std::getenv("BENCH_TICKS");
    int interval = intervalText ? std::atoi(intervalText) : 10;
    int ticks = ticksText ? std::atoi(ticksText) : 3;

    std::printf("%8s %6s %9s %12s %10s %13s\n", "servers", "ticks", "on time", "peak threads", "peak RSS",
                "CPU s/tick");
    for (int count : counts) {
        Run run = Measure(count, interval, ticks, binary ? binary : "build/farview");
        std::printf("%8d %6d %8.2f%% %12ld %7.1f MB %13.3f\n", run.servers, run.ticks, run.onTime * 100,
                    run.peakThreads, static_cast<double>(run.peakRssKiB) / 1024.0, run.cpuPerTick);
        std::fflush(stdout);
    }
    return 0;
}
