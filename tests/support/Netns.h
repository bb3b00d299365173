// A small routed network of network namespaces for tests that send real ICMP
// and TCP traffic without any packet leaving the machine: a line of nodes
//
//     client --- router1 --- ... --- routerN --- target
//
// joined by veth pairs, the routers forwarding, every node with its own
// /etc/netns/NAME/hosts (the node names, plus whatever a test adds) and a
// resolv.conf whose resolver is the node's own loopback, where nothing
// listens, so no look-up ever leaves the namespace. Any node can be made
// silent (it drops every packet it receives), which is how a test breaks a
// path.
//
// Link k joins node k and node k + 1 with the subnet 10.77.k.0/24: node k is
// .1 on its interface "right", node k + 1 is .2 on "left". A node's address
// (Address) is the one it faces the client with, which is also the source of
// its time-exceeded messages to the client; the client's is 10.77.0.1.
//
// Needs root. Namespace names carry the pid ("fvn<pid>-<k>-client"), so tests
// run in parallel; everything is deleted by the destructor, also when the
// test fails, and namespaces left by a crashed test process are swept the
// next time one is built.
//
//     if (!IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
//     NetnsTopology net(2);
//     ASSERT_TRUE(net.IsReady()) << net.GetError();
//     ASSERT_TRUE(net.Enter(net.CLIENT)) << net.GetError();  // before any thread starts
//     ... ping net.AddressText(net.TargetNode()) ...
//
// To run the real daemon inside the client instead, give Daemon::Options the
// namespace name (Namespace(CLIENT)): `ip netns exec` puts the node's hosts
// and resolv.conf in place for it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Kelm::Test {

struct CommandResult {
    int status = -1;     // exit status; -1 when it could not run or was killed
    std::string output;  // standard output and error together
};

// Runs argv (argv[0] an absolute path) with input on its standard input, in
// the network and mount namespaces this process started in, even after Enter
// moved the process; then, when netns is given, inside that named namespace.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& netns = "",
                         const std::string& input = "");

class NetnsTopology {
public:
    static constexpr int CLIENT = 0;

    explicit NetnsTopology(int routers = 2);
    ~NetnsTopology();  // deletes every namespace and /etc/netns folder it made
    NetnsTopology(const NetnsTopology&) = delete;
    NetnsTopology& operator=(const NetnsTopology&) = delete;

    bool IsReady() const { return m_ready; }
    const std::string& GetError() const { return m_error; }

    int GetRouterCount() const { return m_routers; }
    int RouterNode(int k) const { return k; }  // k = 1 .. routers
    int TargetNode() const { return m_routers + 1; }
    int GetNodeCount() const { return m_routers + 2; }

    const std::string& Namespace(int node) const { return m_names[static_cast<size_t>(node)]; }
    // "client", "router1", ..., "target": also the node's name in every hosts file.
    std::string Role(int node) const;

    uint32_t Address(int node) const;  // first octet in the top byte
    std::string AddressText(int node) const;
    static std::string ToText(uint32_t address);

    // Adds (or replaces) a name in the node's hosts file; RemoveHost takes it out.
    bool AddHost(int node, const std::string& name, const std::string& addressText);
    bool RemoveHost(int node, const std::string& name);

    // A silent node drops every packet it receives: it neither answers,
    // forwards nor sends time-exceeded messages.
    bool SetSilent(int node, bool silent);

    // Counts the echo requests that arrive at the node (silent or not) from
    // the moment StartCountingEchoRequests is called; -1 when unreadable.
    bool StartCountingEchoRequests(int node);
    int CountEchoRequests(int node);

    // Moves this process into the node's network namespace, with the node's
    // hosts and resolv.conf in place of /etc's (a mount namespace of its own,
    // as `ip netns exec` makes). Only while the process has a single thread:
    // threads and sockets made afterwards live in the node. There is no way
    // back; each test runs in its own process.
    bool Enter(int node);

    // Runs argv inside the node's namespace (see RunCommand).
    CommandResult Run(int node, const std::vector<std::string>& argv, const std::string& input = "");

private:
    bool Build();
    bool Step(const CommandResult& result, const std::string& what);
    bool WriteHosts(int node);
    std::string EtcFolder(int node) const;

    int m_routers;
    std::vector<std::string> m_names;
    std::vector<std::map<std::string, std::string>> m_extraHosts;  // per node: name -> address
    bool m_ready = false;
    std::string m_error;
};

}  // namespace Kelm::Test
