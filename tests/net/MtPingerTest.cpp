// The shared pinger without privileges: Ping's argument and look-up failures,
// the waiter identifiers, which received messages wake which pinger, and the
// receive thread's behaviour when it may not open a raw socket.
#include <fcntl.h>
#include <netdb.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/MtPinger.h"
#include "tests/net/IcmpCraft.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Kelm::Test::Bytes;

// glibc refuses to put a name with a blank into a DNS query: the look-up
// fails here and nothing is sent to any resolver.
constexpr const char* UNRESOLVABLE = "no such host.invalid";

TEST(MtPingerPing, InvalidArgumentsSendNothing)
{
    struct Case {
        const char* host;
        int count;
        int wait;
    };
    const Case cases[] = {
        {nullptr, 1, 1}, {"127.0.0.1", 0, 1}, {"127.0.0.1", -1, 1}, {"127.0.0.1", 1, 0}, {"127.0.0.1", 1, -3},
    };
    for (const Case& each : cases) {
        SharedPtr<MtPinger> pinger(new MtPinger());
        uint32_t reply = 123;
        bool answered = true;
        std::string log = Kelm::Test::CaptureLog([&] { answered = pinger->Ping(each.host, each.count, each.wait, 0, reply); });
        EXPECT_FALSE(answered);
        EXPECT_EQ(log, "Invalid arguments to MtPinger::Ping\n");
        EXPECT_EQ(pinger->GetSocket(), -1) << "no socket was opened, so nothing was sent";
    }
}

TEST(MtPingerPing, UnresolvableHostLogsBothLines)
{
    SharedPtr<MtPinger> pinger(new MtPinger());
    uint32_t reply = 0;
    bool answered = true;
    std::string log = Kelm::Test::CaptureLog([&] { answered = pinger->Ping(UNRESOLVABLE, 3, 3, 0, reply); });
    EXPECT_FALSE(answered);
    std::string error = std::to_string(EAI_NONAME);
    EXPECT_EQ(log, "*** gethostbyname failed, h_errno=" + error + " => " + gai_strerror(EAI_NONAME) +
                       "\nUnable to lookup host address '" + UNRESOLVABLE + "'.  UNIX Error: " + error + "\n");
    EXPECT_EQ(pinger->GetSocket(), -1);
}

TEST(MtPingerWaiters, IdentifiersRunOneToNinetyNineThenWrap)
{
    MtPinger::MtPingReceiveThread* receiver = GetReceiveThread();
    SharedPtr<MtPinger> pinger(new MtPinger());
    for (int expected = 1; expected <= 99; ++expected) {
        ASSERT_EQ(receiver->AddWaiter(pinger), expected);
        receiver->RemoveWaiter(expected);
    }
    EXPECT_EQ(receiver->AddWaiter(pinger), 1);
    EXPECT_EQ(receiver->AddWaiter(pinger), 2);
    receiver->RemoveWaiter(1);
    receiver->RemoveWaiter(2);
    EXPECT_EQ(pinger->GetRefCount(), 1) << "removed entries hold no reference";
}

struct Delivery {
    const char* what;
    Bytes message;
    uint32_t sender;
    bool wakes;
};

TEST(MtPingerWaiters, OnlyRepliesToTheEchoUnderWayWakeThePinger)
{
    MtPinger::MtPingReceiveThread* receiver = GetReceiveThread();
    // Other pingers hold identifiers up to 6, so ours is 7.
    SharedPtr<MtPinger> other(new MtPinger());
    std::vector<int> others;
    do {
        others.push_back(receiver->AddWaiter(other));
    } while (others.back() != 6);

    const uint32_t target = 0x0A4D0202;
    const uint32_t router = 0x0A4D0002;
    SharedPtr<MtPinger> pinger(new MtPinger());
    EchoMarker stale = pinger->BeginEcho(target);
    EchoMarker ours = pinger->BeginEcho(target);
    ASSERT_EQ(receiver->AddWaiter(pinger), 7);

    EchoMarker otherProcess{ours.process + 1, ours.token};
    const Delivery cases[] = {
        {"another process's echo with our identifier", Kelm::Test::EchoReplyMessage(7, otherProcess), target, false},
        {"a late reply to an earlier ping", Kelm::Test::EchoReplyMessage(7, stale), target, false},
        {"a short quote of an echo to elsewhere", Kelm::Test::TimeExceededMessage(7, 0x0A4D0909, ours, 20, 8), router, false},
        {"a reply under an identifier nobody holds", Kelm::Test::EchoReplyMessage(8, ours), target, false},
        {"time exceeded quoting our echo with identifier 7", Kelm::Test::TimeExceededMessage(7, target, ours), router, true},
        {"our echo reply", Kelm::Test::EchoReplyMessage(7, ours), target, true},
        {"a short quote of an echo to our target", Kelm::Test::TimeExceededMessage(7, target, ours, 20, 8), router + 1, true},
    };
    for (const Delivery& each : cases) {
        IcmpMessage message = ParseIcmpMessage(each.message.data(), each.message.size());
        ASSERT_TRUE(message.isReply) << each.what;
        EXPECT_EQ(receiver->Deliver(message, each.sender), each.wakes) << each.what;
        if (each.wakes) {
            EXPECT_TRUE(pinger->GotReply()) << each.what;
            EXPECT_EQ(pinger->GetReplyAddress(), each.sender) << each.what;
        } else {
            EXPECT_FALSE(pinger->GotReply()) << each.what;
        }
    }

    receiver->RemoveWaiter(7);
    Bytes reply = Kelm::Test::EchoReplyMessage(7, ours);
    EXPECT_FALSE(receiver->Deliver(ParseIcmpMessage(reply.data(), reply.size()), target)) << "after RemoveWaiter";
    for (int id : others) receiver->RemoveWaiter(id);
}

// Standard output redirected into a pipe that the test reads while other
// threads keep logging (CaptureLog only hands its text over at the end).
class StdoutTap {
public:
    StdoutTap()
    {
        std::fflush(stdout);
        if (pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        m_saved = dup(1);
        dup2(m_pipe[1], 1);
    }
    ~StdoutTap()
    {
        std::fflush(stdout);
        if (m_saved >= 0) dup2(m_saved, 1);
        for (int descriptor : {m_saved, m_pipe[0], m_pipe[1]}) {
            if (descriptor >= 0) close(descriptor);
        }
    }

    std::string Text()
    {
        std::fflush(stdout);
        char buffer[4096];
        ssize_t n;
        while ((n = read(m_pipe[0], buffer, sizeof buffer)) > 0) m_text.append(buffer, static_cast<size_t>(n));
        return m_text;
    }

    int Count(const std::string& part)
    {
        std::string text = Text();
        int count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
        return count;
    }

private:
    int m_pipe[2] = {-1, -1};
    int m_saved = -1;
    std::string m_text;
};

// Takes CAP_NET_RAW away from this thread (and the threads it starts).
bool DropNetRaw()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    uint32_t bit = 1u << (CAP_NET_RAW % 32);
    data[CAP_NET_RAW / 32].effective &= ~bit;
    data[CAP_NET_RAW / 32].permitted &= ~bit;
    data[CAP_NET_RAW / 32].inheritable &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

TEST(MtPingerReceiveThread, WithoutThePrivilegeLogsOneLineAndWaits)
{
    ASSERT_TRUE(DropNetRaw());
    int probe = -1;
    ASSERT_NE(CreateIcmpSocket(&probe), 0) << "a raw socket must be refused for this test";

    const std::string line =
        "MT PINGER RECV: Unable to open a raw ICMP socket (Operation not permitted); it needs root or the "
        "CAP_NET_RAW capability. Trying again in a minute.\n";
    StdoutTap tap;
    StartReceiveThread();
    ASSERT_TRUE(Kelm::Test::WaitUntil([&] { return tap.Count(line) >= 1; })) << tap.Text();
    // It waits for a minute before it tries again: no second line, no spin.
    EXPECT_FALSE(Kelm::Test::WaitUntil([&] { return tap.Count("MT PINGER RECV") > 1; }, std::chrono::milliseconds(1500)))
        << tap.Text();

    // A pinger without the privilege cannot open its own socket either.
    SharedPtr<MtPinger> pinger(new MtPinger());
    uint32_t reply = 0;
    std::string before = tap.Text();
    EXPECT_FALSE(pinger->Ping("127.0.0.1", 1, 1, 0, reply));
    EXPECT_EQ(tap.Text().substr(before.size()), "Created socket: -1\nUnable to create socket. UNIX Error: 1");
    EXPECT_EQ(pinger->GetSocket(), -1);
}

}  // namespace
}  // namespace Kelm
