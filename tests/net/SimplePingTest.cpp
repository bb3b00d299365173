// The ICMP layer without privileges: the checksum, the request bytes, the
// parsing of crafted replies, and the send and receive calls driven through
// loopback UDP sockets (which carry the same bytes and honour IP_TTL).
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "net/SimplePing.h"
#include "tests/net/IcmpCraft.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Kelm::Test::Bytes;

// A name glibc refuses to put into a DNS query (it holds a blank): the
// look-up fails on this machine and nothing is sent to any resolver.
constexpr const char* UNRESOLVABLE = "no such host.invalid";

TEST(SimplePingChecksum, RequestWithIdentifierFiveSumsToZero)
{
    Bytes request = Kelm::Test::EchoRequest(5);
    EXPECT_EQ(request[2], 0xF7);  // ~(0x0800 + 0x0005)
    EXPECT_EQ(request[3], 0xFA);
    EXPECT_EQ(InternetChecksum(request.data(), request.size()), 0);
}

TEST(SimplePingChecksum, KnownSums)
{
    struct Case {
        Bytes bytes;
        uint16_t checksum;
    };
    const Case cases[] = {
        {{}, 0xFFFF},
        {{0x01}, 0xFEFF},              // an odd byte is the high byte of a word
        {{0x01, 0x02, 0x03}, 0xFBFD},  // 0x0102 + 0x0300
        {{0xFF, 0xFF}, 0x0000},
        {{0xFF, 0xFF, 0x00, 0x01}, 0xFFFE},  // the carry folds back in
        {{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}, 0x220D},  // RFC 1071's example
    };
    for (const Case& each : cases) {
        EXPECT_EQ(InternetChecksum(each.bytes.data(), each.bytes.size()), each.checksum)
            << "over " << each.bytes.size() << " bytes";
    }
}

TEST(SimplePingChecksum, OddLengthMessageWithItsChecksumSumsToZero)
{
    // The checksum word placed in front of an odd-length body makes the
    // whole come out 0, as for a receiver checking it.
    Bytes message = {0x08, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56};
    uint16_t checksum = InternetChecksum(message.data(), message.size());
    Kelm::Test::Put16(message, 2, checksum);
    EXPECT_EQ(InternetChecksum(message.data(), message.size()), 0);
}

TEST(SimplePingRequest, LayoutByteByByte)
{
    uint8_t request[ECHO_REQUEST_SIZE];
    timeval sendTime{};
    sendTime.tv_sec = 0x01020304;
    sendTime.tv_usec = 0x000A0B0C;
    EchoMarker marker{0xAABBCCDD, 0x11223344};
    BuildEchoRequest(request, 0x1234, 0x5678, sendTime, marker);

    const uint8_t expected[ECHO_REQUEST_SIZE] = {
        0x08, 0x00, 0x00, 0x00,  // type, code, checksum (checked below)
        0x12, 0x34, 0x56, 0x78,  // identifier, sequence
        0xAA, 0xBB, 0xCC, 0xDD, 0x11, 0x22, 0x33, 0x44,  // the marker
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,              // the rest of the filler
        0x01, 0x02, 0x03, 0x04,  // send time, seconds
        0x00, 0x0A, 0x0B, 0x0C,  // send time, microseconds
    };
    for (size_t i = 0; i < ECHO_REQUEST_SIZE; ++i) {
        if (i == 2 || i == 3) continue;
        EXPECT_EQ(request[i], expected[i]) << "byte " << i;
    }
    Bytes zeroed(request, request + ECHO_REQUEST_SIZE);
    zeroed[2] = zeroed[3] = 0;
    uint16_t checksum = InternetChecksum(zeroed.data(), zeroed.size());
    EXPECT_EQ(request[2], checksum >> 8);
    EXPECT_EQ(request[3], checksum & 0xFF);
}

TEST(SimplePingRequest, WithoutMarkerTheFillerIsZero)
{
    Bytes request = Kelm::Test::EchoRequest(9);
    for (size_t i = 8; i < 28; ++i) EXPECT_EQ(request[i], 0) << "byte " << i;
}

TEST(SimplePingParse, Messages)
{
    const uint32_t target = 0x0A4D0202;
    const EchoMarker marker{0x01020304, 42};
    struct Case {
        const char* what;
        Bytes message;
        bool isReply;
        int type;
        int identifier;
        bool hasMarker;
    };
    Bytes shortReply = Kelm::Test::EchoReplyMessage(3, marker);
    shortReply.resize(20 + 35);
    Bytes reply36 = Kelm::Test::EchoReplyMessage(3, marker);
    Bytes badHeader = Kelm::Test::EchoReplyMessage(3, marker);
    badHeader[0] = 0x44;  // IHL 4: 16 bytes, not an IP header
    Bytes unreachable = Kelm::Test::TimeExceededMessage(7, target, marker);
    unreachable[20] = 3;
    Bytes echoRequest = Kelm::Test::EchoReplyMessage(3, marker);
    echoRequest[20] = ICMP_ECHO_REQUEST_TYPE;
    const Case cases[] = {
        {"echo reply", Kelm::Test::EchoReplyMessage(0x0102, marker), true, 0, 0x0102, true},
        {"echo reply after a header with options", Kelm::Test::EchoReplyMessage(0x0102, marker, 28), true, 0, 0x0102, true},
        {"exactly 36 bytes after the header", reply36, true, 0, 3, true},
        {"35 bytes after the header", shortReply, false, -1, 0, false},
        {"IHL below 5", badHeader, false, -1, 0, false},
        {"time exceeded quoting identifier 7", Kelm::Test::TimeExceededMessage(7, target, marker), true, 11, 7, true},
        {"time exceeded quoting a header with options", Kelm::Test::TimeExceededMessage(7, target, marker, 32), true, 11, 7,
         true},
        {"time exceeded quoting 8 bytes of the echo", Kelm::Test::TimeExceededMessage(7, target, marker, 20, 8), true, 11,
         7, false},
        {"quoted options leave no room for the identifier", Kelm::Test::TimeExceededMessage(7, target, marker, 60, 4),
         false, 11, 0, false},
        {"destination unreachable", unreachable, false, 3, 0, false},
        {"echo request", echoRequest, false, 8, 0, false},
    };
    for (const Case& each : cases) {
        IcmpMessage parsed = ParseIcmpMessage(each.message.data(), each.message.size());
        EXPECT_EQ(parsed.isReply, each.isReply) << each.what;
        EXPECT_EQ(parsed.type, each.type) << each.what;
        if (!each.isReply) continue;
        EXPECT_EQ(parsed.identifier, each.identifier) << each.what;
        EXPECT_EQ(parsed.hasMarker, each.hasMarker) << each.what;
        if (each.hasMarker) {
            EXPECT_EQ(parsed.marker, marker) << each.what;
        }
        if (each.type == ICMP_TIME_EXCEEDED_TYPE) {
            EXPECT_EQ(parsed.quotedDestination, target) << each.what;
        }
    }
}

// A UDP socket on 127.0.0.1 standing in for a raw ICMP socket: it receives
// whatever bytes are sent to it, with the sender's address.
class LoopbackUdp {
public:
    explicit LoopbackUdp(const char* address = "127.0.0.1")
    {
        m_descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, address, &local.sin_addr);
        bind(m_descriptor, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t length = sizeof m_address;
        getsockname(m_descriptor, reinterpret_cast<sockaddr*>(&m_address), &length);
        timeval timeout{};
        timeout.tv_usec = 200000;
        setsockopt(m_descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~LoopbackUdp() { close(m_descriptor); }

    int Descriptor() const { return m_descriptor; }
    const sockaddr_in& Address() const { return m_address; }

    void SendTo(const LoopbackUdp& other, const Bytes& bytes) const
    {
        sendto(m_descriptor, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&other.Address()),
               sizeof other.Address());
    }

private:
    int m_descriptor = -1;
    sockaddr_in m_address{};
};

TEST(SimplePingReceive, PicksIdentifierAndSenderOutOfARealReceive)
{
    LoopbackUdp receiver;
    LoopbackUdp router("127.0.0.2");
    router.SendTo(receiver, Kelm::Test::TimeExceededMessage(7, 0x0A4D0202));

    bool gotReply = false;
    sockaddr_in sender{};
    int identifier = 0;
    EXPECT_EQ(ReceiveIcmpReply(receiver.Descriptor(), 3, &gotReply, &sender, &identifier), 0);
    EXPECT_TRUE(gotReply);
    EXPECT_EQ(identifier, 7);
    EXPECT_EQ(ntohl(sender.sin_addr.s_addr), 0x7F000002u);
}

TEST(SimplePingReceive, IgnoresShortMessagesAndOtherTypes)
{
    LoopbackUdp receiver;
    LoopbackUdp peer;
    Bytes shortReply = Kelm::Test::EchoReplyMessage(3);
    shortReply.resize(20 + 35);
    Bytes unreachable = Kelm::Test::TimeExceededMessage(3, 0x0A4D0202);
    unreachable[20] = 3;
    for (const Bytes& message : {shortReply, unreachable}) {
        peer.SendTo(receiver, message);
        bool gotReply = true;
        int identifier = -1;
        EXPECT_EQ(ReceiveIcmpReply(receiver.Descriptor(), 3, &gotReply, nullptr, &identifier), 0);
        EXPECT_FALSE(gotReply);
        EXPECT_EQ(identifier, -1);
    }
}

TEST(SimplePingReceive, TimeOutIsNoReplyAndBadArgumentsAre22)
{
    LoopbackUdp receiver;
    bool gotReply = true;
    EXPECT_EQ(ReceiveIcmpReply(receiver.Descriptor(), 3, &gotReply, nullptr, nullptr), 0);
    EXPECT_FALSE(gotReply);

    EXPECT_EQ(ReceiveIcmpReply(receiver.Descriptor(), 3, nullptr, nullptr, nullptr), 22);
    EXPECT_EQ(ReceiveIcmpReply(receiver.Descriptor(), 0, &gotReply, nullptr, nullptr), 22);
    EXPECT_EQ(ReceiveIcmpReply(receiver.Descriptor(), -1, &gotReply, nullptr, nullptr), 22);
}

int SocketTtl(int descriptor)
{
    int ttl = 0;
    socklen_t length = sizeof ttl;
    getsockopt(descriptor, IPPROTO_IP, IP_TTL, &ttl, &length);
    return ttl;
}

// Receives one datagram and the time-to-live it arrived with.
Bytes ReceiveWithTtl(int descriptor, int& ttl)
{
    uint8_t buffer[256];
    char control[CMSG_SPACE(sizeof(int))];
    iovec part{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = recvmsg(descriptor, &message, 0);
    ttl = -1;
    for (cmsghdr* each = CMSG_FIRSTHDR(&message); each != nullptr; each = CMSG_NXTHDR(&message, each)) {
        if (each->cmsg_level == IPPROTO_IP && each->cmsg_type == IP_TTL) std::memcpy(&ttl, CMSG_DATA(each), sizeof ttl);
    }
    return received > 0 ? Bytes(buffer, buffer + received) : Bytes();
}

TEST(SimplePingSend, SendsTheRequestWithTheGivenTtlAndRestoresTheSocketTtl)
{
    LoopbackUdp receiver;
    int on = 1;
    setsockopt(receiver.Descriptor(), IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    LoopbackUdp sender;
    int own = 33;
    setsockopt(sender.Descriptor(), IPPROTO_IP, IP_TTL, &own, sizeof own);

    EchoMarker marker{7, 8};
    struct Case {
        int ttl;
        int arrivesWith;
    };
    for (Case each : {Case{4, 4}, Case{0, 33}}) {
        EXPECT_EQ(SendEchoRequest(&receiver.Address(), 0, sender.Descriptor(), each.ttl, 42, marker), 0);
        EXPECT_EQ(SocketTtl(sender.Descriptor()), 33) << "after a send with ttl " << each.ttl;

        int arrivedTtl = 0;
        Bytes request = ReceiveWithTtl(receiver.Descriptor(), arrivedTtl);
        ASSERT_EQ(request.size(), ECHO_REQUEST_SIZE);
        EXPECT_EQ(arrivedTtl, each.arrivesWith);
        EXPECT_EQ(request[0], ICMP_ECHO_REQUEST_TYPE);
        EXPECT_EQ((request[4] << 8) | request[5], 42);
        EXPECT_EQ((request[6] << 8) | request[7], 0);
        EXPECT_EQ(Bytes(request.begin() + 8, request.begin() + 16), (Bytes{0, 0, 0, 7, 0, 0, 0, 8})) << "the marker";
        EXPECT_EQ(InternetChecksum(request.data(), request.size()), 0);
    }
}

TEST(SimplePingSend, FailedSendReturnsTheError)
{
    sockaddr_in nowhere{};
    nowhere.sin_family = AF_INET;
    nowhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(SendEchoRequest(&nowhere, 0, -1, 0, 1), EBADF);
    EXPECT_EQ(SendEchoRequest(&nowhere, 0, -1, 4, 1), EBADF);
    EXPECT_EQ(SendEchoRequest(nullptr, 0, -1, 0, 1), 22);
}

TEST(SimplePingResolve, DottedAddressesAndLocalNames)
{
    sockaddr_in address{};
    address.sin_port = htons(99);
    EXPECT_EQ(ResolveHost("10.77.1.2", &address), 0);
    EXPECT_EQ(address.sin_family, AF_INET);
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), 0x0A4D0102u);
    EXPECT_EQ(address.sin_port, 0) << "the address is cleared first";

    EXPECT_EQ(ResolveHost("localhost", &address), 0);
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), 0x7F000001u);

    EXPECT_EQ(ResolveHost(nullptr, &address), 22);
    EXPECT_EQ(ResolveHost("localhost", nullptr), 22);
}

TEST(SimplePingResolve, FailedLookUpLogsTheResolverError)
{
    sockaddr_in address{};
    int error = 0;
    std::string log = Kelm::Test::CaptureLog([&] { error = ResolveHost(UNRESOLVABLE, &address); });
    EXPECT_EQ(error, EAI_NONAME);
    EXPECT_EQ(log, "*** gethostbyname failed, h_errno=" + std::to_string(EAI_NONAME) + " => " +
                       gai_strerror(EAI_NONAME) + "\n");
}

TEST(SimplePingSocket, RawSocketNeedsThePrivilege)
{
    int descriptor = 12345;
    int error = CreateIcmpSocket(&descriptor);
    if (Kelm::Test::IsRoot()) {
        ASSERT_EQ(error, 0);
        EXPECT_GE(descriptor, 0);
        timeval timeout{};
        socklen_t length = sizeof timeout;
        getsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, &length);
        EXPECT_EQ(timeout.tv_sec, 1);
        close(descriptor);
    } else {
        EXPECT_EQ(error, 1);
        EXPECT_EQ(descriptor, -1);
    }
}

}  // namespace
}  // namespace Kelm
