// ICMP echo over raw IPv4 sockets. See SimplePing.h for the request layout.
//
// Parsing never reads past what was received: every offset a reply is read
// at (including the identifier inside a quoted header that carries options)
// must lie inside the message, or the message is not a reply.
#include "net/SimplePing.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Log.h"

namespace Kelm {

namespace {

constexpr int BAD_ARGUMENTS = 22;
constexpr int NO_ICMP_PROTOCOL = 46;
constexpr int RECEIVE_BUFFER_BYTES = 51200;
constexpr size_t RECEIVE_MESSAGE_BYTES = 2048;
constexpr size_t MIN_IP_HEADER = 20;
constexpr size_t MIN_AFTER_IP_HEADER = 36;

// errno after a failed call, or 1 when the call left it 0.
int LastError()
{
    return errno != 0 ? errno : 1;
}

uint16_t Read16(const uint8_t* bytes)
{
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint32_t Read32(const uint8_t* bytes)
{
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

void Write16(uint8_t* bytes, uint32_t value)
{
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

void Write32(uint8_t* bytes, uint32_t value)
{
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

// The IP header length from the low four bits of its first byte.
size_t HeaderLength(const uint8_t* header)
{
    return static_cast<size_t>(header[0] & 0x0F) * 4;
}

}  // namespace

int ResolveHost(const char* host, sockaddr_in* address)
{
    if (host == nullptr || address == nullptr) return BAD_ARGUMENTS;
    std::memset(address, 0, sizeof *address);

    in_addr_t numeric = inet_addr(host);
    if (numeric != INADDR_NONE) {
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = numeric;
        return 0;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    hints.ai_protocol = IPPROTO_ICMP;
    addrinfo* found = nullptr;
    int error = getaddrinfo(host, nullptr, &hints, &found);
    if (error != 0) {
        LogF("*** gethostbyname failed, h_errno=%d => %s\n", error, gai_strerror(error));
        return error;
    }
    const auto* first = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    address->sin_family = AF_INET;
    address->sin_addr = first->sin_addr;
    freeaddrinfo(found);
    return 0;
}

int CreateIcmpSocket(int* descriptor)
{
    if (descriptor == nullptr) return BAD_ARGUMENTS;
    *descriptor = -1;

    // The reentrant form: several threads open sockets at once.
    protoent entry{};
    char buffer[1024];
    protoent* protocol = nullptr;
    if (getprotobyname_r("icmp", &entry, buffer, sizeof buffer, &protocol) != 0 || protocol == nullptr) {
        return NO_ICMP_PROTOCOL;
    }

    int made = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, protocol->p_proto);
    if (made < 0) return 1;  // errno still tells why (EPERM without CAP_NET_RAW)

    int bufferBytes = RECEIVE_BUFFER_BYTES;
    setsockopt(made, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);

    timeval timeout{};
    timeout.tv_sec = 1;
    if (setsockopt(made, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        int error = LastError();
        close(made);
        return error;
    }

    // Only echo replies and time-exceeded messages are ever looked at; the
    // kernel need not queue the rest (echo requests, unreachables, ...).
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHO_REPLY_TYPE) | (1u << ICMP_TIME_EXCEEDED_TYPE));
    setsockopt(made, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);

    *descriptor = made;
    return 0;
}

void BuildEchoRequest(uint8_t* request, int identifier, int sequence, const timeval& sendTime,
                      const EchoMarker& marker)
{
    std::memset(request, 0, ECHO_REQUEST_SIZE);
    request[0] = ICMP_ECHO_REQUEST_TYPE;
    request[1] = 0;
    Write16(request + 4, static_cast<uint32_t>(identifier));
    Write16(request + 6, static_cast<uint32_t>(sequence));
    Write32(request + 8, marker.process);
    Write32(request + 12, marker.token);
    Write32(request + 28, static_cast<uint32_t>(sendTime.tv_sec));
    Write32(request + 32, static_cast<uint32_t>(sendTime.tv_usec));
    Write16(request + 2, InternetChecksum(request, ECHO_REQUEST_SIZE));
}

int SendEchoRequest(const sockaddr_in* destination, int sequence, int descriptor, int ttl, int identifier,
                    const EchoMarker& marker)
{
    if (destination == nullptr) return BAD_ARGUMENTS;

    timeval now{};
    if (gettimeofday(&now, nullptr) != 0) return LastError();
    uint8_t request[ECHO_REQUEST_SIZE];
    BuildEchoRequest(request, identifier, sequence, now, marker);

    // A probe that cannot get its time-to-live must not go out with the
    // socket's default: it would reach hosts it was meant to stop short of.
    int oldTtl = 0;
    if (ttl != 0) {
        socklen_t length = sizeof oldTtl;
        if (getsockopt(descriptor, IPPROTO_IP, IP_TTL, &oldTtl, &length) != 0) return LastError();
        if (setsockopt(descriptor, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) return LastError();
    }

    ssize_t sent = sendto(descriptor, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(destination),
                          sizeof *destination);
    int error = sent == static_cast<ssize_t>(sizeof request) ? 0 : LastError();

    if (ttl != 0 && setsockopt(descriptor, IPPROTO_IP, IP_TTL, &oldTtl, sizeof oldTtl) != 0 && error == 0) {
        error = LastError();
    }
    return error;
}

IcmpMessage ParseIcmpMessage(const uint8_t* bytes, size_t length)
{
    IcmpMessage message;
    if (bytes == nullptr || length == 0) return message;
    size_t headerLength = HeaderLength(bytes);
    if (headerLength < MIN_IP_HEADER || length < headerLength + MIN_AFTER_IP_HEADER) return message;

    const uint8_t* icmp = bytes + headerLength;
    const size_t icmpLength = length - headerLength;
    message.type = icmp[0];

    if (message.type == ICMP_ECHO_REPLY_TYPE) {
        message.identifier = Read16(icmp + 4);
        message.hasMarker = true;  // 36 bytes are there: the whole request echoed
        message.marker.process = Read32(icmp + 8);
        message.marker.token = Read32(icmp + 12);
        message.isReply = true;
    } else if (message.type == ICMP_TIME_EXCEEDED_TYPE) {
        // 8 bytes of ICMP header, then the expired packet: its IP header (of
        // its own length) and the start of our echo request.
        const uint8_t* quoted = icmp + 8;
        size_t quotedLength = HeaderLength(quoted);
        size_t echoOffset = 8 + quotedLength;
        if (quotedLength < MIN_IP_HEADER || icmpLength < echoOffset + 6) return message;
        message.identifier = Read16(icmp + echoOffset + 4);
        message.quotedDestination = Read32(quoted + 16);
        // Routers must quote at least 8 bytes of the echo; most quote all of it.
        if (icmpLength >= echoOffset + 16) {
            message.hasMarker = true;
            message.marker.process = Read32(icmp + echoOffset + 8);
            message.marker.token = Read32(icmp + echoOffset + 12);
        }
        message.isReply = true;
    }
    return message;
}

int ReceiveIcmpMessage(int descriptor, IcmpMessage* message, sockaddr_in* sender)
{
    if (message == nullptr) return BAD_ARGUMENTS;
    *message = IcmpMessage();

    uint8_t buffer[RECEIVE_MESSAGE_BYTES];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t received =
        recvfrom(descriptor, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received <= 0) return 0;  // the time-out, or any failure: no reply

    *message = ParseIcmpMessage(buffer, static_cast<size_t>(received));
    if (sender != nullptr) *sender = from;
    return 0;
}

int ReceiveIcmpReply(int descriptor, int timeoutSeconds, bool* gotReply, sockaddr_in* sender, int* identifier)
{
    if (gotReply == nullptr || timeoutSeconds <= 0) return BAD_ARGUMENTS;
    *gotReply = false;

    IcmpMessage message;
    sockaddr_in from{};
    int error = ReceiveIcmpMessage(descriptor, &message, &from);
    if (error != 0 || !message.isReply) return error;

    *gotReply = true;
    if (sender != nullptr) *sender = from;
    if (identifier != nullptr) *identifier = message.identifier;
    return 0;
}

uint16_t InternetChecksum(const uint8_t* bytes, size_t length)
{
    uint64_t sum = 0;
    size_t index = 0;
    for (; index + 1 < length; index += 2) sum += Read16(bytes + index);
    if (index < length) sum += static_cast<uint64_t>(bytes[index]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

}  // namespace Kelm
