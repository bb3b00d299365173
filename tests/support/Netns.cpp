// The namespace network for tests. See Netns.h.
//
// Commands (ip, nft, sh) always run from the namespaces the test process
// started in: nsenter re-enters them through descriptors opened before the
// process moved, so building, changing and deleting the network works the
// same before and after Enter, and `ip netns del` unmounts in the real mount
// namespace, not in the test's private copy.
#include "tests/support/Netns.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>

extern char** environ;

namespace Kelm::Test {

namespace {

constexpr const char* NSENTER = "/usr/bin/nsenter";
constexpr const char* IP = "/usr/sbin/ip";
constexpr const char* NFT = "/usr/sbin/nft";
constexpr const char* SHELL = "/bin/sh";
constexpr const char* NAME_PREFIX = "fvn";
constexpr const char* SILENT_TABLE = "farview_silent";
constexpr const char* COUNT_TABLE = "farview_count";

int s_hostNet = -1;
int s_hostMnt = -1;

void OpenHostNamespaces()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        s_hostNet = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        s_hostMnt = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
    });
}

std::string SystemError(const std::string& call)
{
    return call + " failed: " + std::strerror(errno);
}

int ThreadCount()
{
    std::error_code ignored;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/task", ignored);
         it != std::filesystem::directory_iterator(); it.increment(ignored)) {
        ++count;
    }
    return count;
}

bool ProcessAlive(pid_t pid)
{
    return kill(pid, 0) == 0 || errno != ESRCH;
}

// Namespaces and /etc/netns folders named by this helper for a process that
// no longer exists: a test that crashed before its destructor ran.
void SweepStale()
{
    static const std::regex s_pattern(std::string("^") + NAME_PREFIX + "([0-9]+)-.*");
    std::error_code ignored;
    for (const char* folder : {"/run/netns", "/etc/netns"}) {
        for (auto it = std::filesystem::directory_iterator(folder, ignored);
             it != std::filesystem::directory_iterator(); it.increment(ignored)) {
            std::string name = it->path().filename().string();
            std::smatch match;
            if (!std::regex_match(name, match, s_pattern)) continue;
            if (ProcessAlive(static_cast<pid_t>(std::stol(match[1].str())))) continue;
            if (std::string(folder) == "/run/netns") RunCommand({IP, "netns", "del", name});
            std::filesystem::remove_all(std::string("/etc/netns/") + name, ignored);
        }
    }
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& netns, const std::string& input)
{
    CommandResult result;
    if (argv.empty()) return result;
    OpenHostNamespaces();

    // nsenter re-enters the namespaces this process started in (through the
    // descriptors kept open for that), then the named one. A fresh program
    // does it because setns into a mount namespace needs a single-threaded
    // caller, which a forked copy of a sanitized test is not.
    const std::string self = "/proc/" + std::to_string(getpid()) + "/fd/";
    std::vector<std::string> command = {NSENTER, "--mount=" + self + std::to_string(s_hostMnt),
                                        "--net=" + (netns.empty() ? self + std::to_string(s_hostNet)
                                                                  : "/run/netns/" + netns),
                                        "--"};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> arguments;
    for (std::string& each : command) arguments.push_back(each.data());
    arguments.push_back(nullptr);

    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return result;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 2);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    if (spawned != 0) {
        close(toChild[1]);
        close(fromChild[0]);
        result.output = std::string("posix_spawn failed: ") + std::strerror(spawned);
        return result;
    }

    // Inputs and outputs are a few lines: writing all of the input first
    // cannot fill the pipes.
    size_t written = 0;
    while (written < input.size()) {
        ssize_t n = write(toChild[1], input.data() + written, input.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    close(toChild[1]);
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fromChild[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(fromChild[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

NetnsTopology::NetnsTopology(int routers) : m_routers(routers)
{
    OpenHostNamespaces();
    static int s_topologies = 0;
    int serial = s_topologies++;
    for (int node = 0; node < GetNodeCount(); ++node) {
        m_names.push_back(std::string(NAME_PREFIX) + std::to_string(getpid()) + "-" + std::to_string(serial) + "-" +
                          Role(node));
    }
    m_extraHosts.resize(static_cast<size_t>(GetNodeCount()));
    SweepStale();
    m_ready = Build();
}

NetnsTopology::~NetnsTopology()
{
    std::string batch;
    for (const std::string& name : m_names) batch += "netns del " + name + "\n";
    RunCommand({IP, "-force", "-batch", "-"}, "", batch);
    std::error_code ignored;
    for (int node = 0; node < GetNodeCount(); ++node) std::filesystem::remove_all(EtcFolder(node), ignored);
}

std::string NetnsTopology::Role(int node) const
{
    if (node == CLIENT) return "client";
    if (node == TargetNode()) return "target";
    return "router" + std::to_string(node);
}

uint32_t NetnsTopology::Address(int node) const
{
    if (node == CLIENT) return (10u << 24) | (77u << 16) | (0u << 8) | 1u;
    return (10u << 24) | (77u << 16) | (static_cast<uint32_t>(node - 1) << 8) | 2u;
}

std::string NetnsTopology::ToText(uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string NetnsTopology::AddressText(int node) const
{
    return ToText(Address(node));
}

std::string NetnsTopology::EtcFolder(int node) const
{
    return "/etc/netns/" + Namespace(node) + "/";
}

bool NetnsTopology::Step(const CommandResult& result, const std::string& what)
{
    if (result.status == 0) return true;
    if (m_error.empty()) m_error = what + " failed (status " + std::to_string(result.status) + "): " + result.output;
    return false;
}

bool NetnsTopology::Build()
{
    std::string create;
    for (const std::string& name : m_names) create += "netns add " + name + "\n";
    if (!Step(RunCommand({IP, "-batch", "-"}, "", create), "creating the namespaces")) return false;

    const int last = TargetNode();
    for (int node = 0; node <= last; ++node) {
        std::string link = "link set lo up\n";
        if (node < last) {
            // Link `node` joins this node (right, .1) and the next (left, .2).
            std::string subnet = "10.77." + std::to_string(node) + ".";
            link += "link add right type veth peer name left netns " + Namespace(node + 1) + "\n";
            link += "addr add " + subnet + "1/24 dev right\nlink set right up\n";
        }
        if (node > 0) {
            link += "addr add " + AddressText(node) + "/24 dev left\nlink set left up\n";
        }
        // Towards the target through the right neighbour, back to the
        // subnets behind the left one.
        if (node < last) {
            link += "route add default via 10.77." + std::to_string(node) + ".2\n";
            for (int behind = 0; behind + 1 < node; ++behind) {
                link += "route add 10.77." + std::to_string(behind) + ".0/24 via 10.77." + std::to_string(node - 1) +
                        ".1\n";
            }
        } else {
            link += "route add default via 10.77." + std::to_string(node - 1) + ".1\n";
        }
        if (!Step(RunCommand({IP, "-n", Namespace(node), "-batch", "-"}, "", link), "configuring " + Role(node))) {
            return false;
        }

        // Routers forward; nobody rate-limits its ICMP errors, so a test may
        // probe the same router many times in a row.
        std::string settings = "echo 0 > /proc/sys/net/ipv4/icmp_ratelimit\n";
        if (node != CLIENT && node != last) settings += "echo 1 > /proc/sys/net/ipv4/ip_forward\n";
        if (!Step(RunCommand({SHELL, "-e", "-c", settings}, Namespace(node)), "the settings of " + Role(node))) {
            return false;
        }

        std::error_code error;
        std::filesystem::create_directories(EtcFolder(node), error);
        if (error) {
            m_error = "cannot make " + EtcFolder(node) + ": " + error.message();
            return false;
        }
        // A resolver on the node's own loopback, where nothing listens: a
        // name missing from the hosts file fails at once and no query leaves.
        std::ofstream resolv(EtcFolder(node) + "resolv.conf", std::ios::trunc);
        resolv << "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n";
        if (!resolv || !WriteHosts(node)) {
            m_error = "cannot write the files in " + EtcFolder(node);
            return false;
        }
    }
    return true;
}

bool NetnsTopology::WriteHosts(int node)
{
    std::string text = "127.0.0.1 localhost\n";
    for (int each = 0; each < GetNodeCount(); ++each) text += AddressText(each) + " " + Role(each) + "\n";
    for (const auto& [name, address] : m_extraHosts[static_cast<size_t>(node)]) text += address + " " + name + "\n";
    // Rewritten in place: after Enter the file is bind-mounted over
    // /etc/hosts, and a new file would not be seen there.
    std::ofstream hosts(EtcFolder(node) + "hosts", std::ios::trunc);
    hosts << text;
    hosts.flush();
    return static_cast<bool>(hosts);
}

bool NetnsTopology::AddHost(int node, const std::string& name, const std::string& addressText)
{
    m_extraHosts[static_cast<size_t>(node)][name] = addressText;
    return WriteHosts(node);
}

bool NetnsTopology::RemoveHost(int node, const std::string& name)
{
    m_extraHosts[static_cast<size_t>(node)].erase(name);
    return WriteHosts(node);
}

bool NetnsTopology::SetSilent(int node, bool silent)
{
    std::string script = silent ? std::string("table ip ") + SILENT_TABLE +
                                      " {\n"
                                      "  chain prerouting { type filter hook prerouting priority -400; policy drop; }\n"
                                      "  chain output { type filter hook output priority -400; policy drop; }\n"
                                      "}\n"
                                : std::string("delete table ip ") + SILENT_TABLE + "\n";
    return Step(Run(node, {NFT, "-f", "-"}, script), silent ? "silencing " + Role(node) : "waking " + Role(node));
}

bool NetnsTopology::StartCountingEchoRequests(int node)
{
    // Ahead of the silencing chain, so echoes a silent node drops count too.
    std::string script = std::string("table ip ") + COUNT_TABLE +
                         " {\n"
                         "  chain prerouting { type filter hook prerouting priority -500; icmp type echo-request "
                         "counter; }\n"
                         "}\n";
    return Step(Run(node, {NFT, "-f", "-"}, script), "counting echoes at " + Role(node));
}

int NetnsTopology::CountEchoRequests(int node)
{
    CommandResult listed = Run(node, {NFT, "list", "table", "ip", COUNT_TABLE});
    static const std::regex s_packets("packets ([0-9]+)");
    std::smatch match;
    if (listed.status != 0 || !std::regex_search(listed.output, match, s_packets)) return -1;
    return std::stoi(match[1].str());
}

bool NetnsTopology::Enter(int node)
{
    if (ThreadCount() != 1) {
        m_error = "Enter needs a process with one thread (run each namespace test in its own process)";
        return false;
    }
    int target = open(("/run/netns/" + Namespace(node)).c_str(), O_RDONLY | O_CLOEXEC);
    if (target < 0) {
        m_error = SystemError("opening the namespace " + Namespace(node));
        return false;
    }
    int joined = setns(target, CLONE_NEWNET);
    close(target);
    if (joined != 0) {
        m_error = SystemError("setns");
        return false;
    }
    // A private view of the file system, so the node's files can cover
    // /etc's without touching the rest of the machine.
    if (unshare(CLONE_NEWNS) != 0) {
        m_error = SystemError("unshare");
        return false;
    }
    if (mount("none", "/", nullptr, MS_SLAVE | MS_REC, nullptr) != 0) {
        m_error = SystemError("making / a slave mount");
        return false;
    }
    for (const char* file : {"hosts", "resolv.conf"}) {
        std::string source = EtcFolder(node) + file;
        std::string target = std::string("/etc/") + file;
        if (mount(source.c_str(), target.c_str(), "none", MS_BIND, nullptr) != 0) {
            m_error = SystemError("bind-mounting " + source);
            return false;
        }
    }
    return true;
}

CommandResult NetnsTopology::Run(int node, const std::vector<std::string>& argv, const std::string& input)
{
    return RunCommand(argv, Namespace(node), input);
}

}  // namespace Kelm::Test
