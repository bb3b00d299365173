// ICMP echo over raw IPv4 sockets: resolve a host, open an ICMP socket, send
// one 36-byte echo request (optionally with its own time-to-live), receive one
// ICMP message and pick out the echo identifier and the sender.
//
// Raw sockets (root or CAP_NET_RAW) because Linux ICMP datagram sockets
// rewrite the echo identifier and only see their own replies, while the
// shared pinger needs one socket that gets a copy of every echo reply and
// time-exceeded message reaching the machine.
//
// The request layout:
//
//     0 type 8 | 1 code 0 | 2-3 checksum | 4-5 identifier | 6-7 sequence
//     8-27 filler | 28-31 send time, seconds | 32-35 send time, microseconds
//
// all big-endian. The filler is zero except for an optional EchoMarker in
// bytes 8-15, which the peer echoes back (and a router quotes in its
// time-exceeded message): it lets a pinger tell its own echoes from another
// process's echoes that happen to use the same identifier.
//
// Each function returns 0 or an error number and logs what failed.
#pragma once

#include <netinet/in.h>
#include <sys/time.h>

#include <cstddef>
#include <cstdint>

namespace Kelm {

constexpr size_t ECHO_REQUEST_SIZE = 36;
constexpr int ICMP_ECHO_REPLY_TYPE = 0;
constexpr int ICMP_ECHO_REQUEST_TYPE = 8;
constexpr int ICMP_TIME_EXCEEDED_TYPE = 11;

// Carried in filler bytes 8-11 (process) and 12-15 (token). All zero: none.
struct EchoMarker {
    uint32_t process = 0;  // a random value fixed for the life of the process
    uint32_t token = 0;    // which ping of this process sent the echo

    bool IsSet() const { return process != 0 || token != 0; }
    bool operator==(const EchoMarker& other) const = default;
};

// What one received ICMP message says about an echo.
struct IcmpMessage {
    bool isReply = false;            // an echo reply or time exceeded, long enough
    int type = -1;                   // ICMP type; -1 when the message was too short
    uint16_t identifier = 0;         // of the echo answered or expired
    uint32_t quotedDestination = 0;  // time exceeded: where the expired echo was going
    bool hasMarker = false;          // the echo's bytes 8-15 were present
    EchoMarker marker;
};

// Null arguments: 22. A dotted address is used as is; a name is looked up with
// getaddrinfo (IPv4), whose error code is returned (and logged) on failure.
int ResolveHost(const char* host, sockaddr_in* address);

// A raw ICMP socket with a 51200-byte receive buffer and a 1-second receive
// time-out. 46: no "icmp" protocol entry; 1: the socket could not be made
// (errno tells why); otherwise errno of the failed time-out setting.
int CreateIcmpSocket(int* descriptor);

// Sends one echo request. A non-zero ttl is set on the socket for this send
// only; the socket's own value is put back afterwards.
int SendEchoRequest(const sockaddr_in* destination, int sequence, int descriptor, int ttl, int identifier,
                    const EchoMarker& marker = EchoMarker());

// Receives at most one message (the socket's 1-second time-out bounds the
// wait; timeoutSeconds must be positive but is otherwise unused). A message
// that is an echo reply or time exceeded sets *gotReply, *sender and
// *identifier; anything else, and a failed or timed-out receive, returns 0
// with *gotReply false.
int ReceiveIcmpReply(int descriptor, int timeoutSeconds, bool* gotReply, sockaddr_in* sender, int* identifier);

// ReceiveIcmpReply with everything the message tells: the pinger's receive
// thread uses it to match replies to the echo actually sent.
int ReceiveIcmpMessage(int descriptor, IcmpMessage* message, sockaddr_in* sender);

// RFC 1071: ones'-complement of the ones'-complement sum of the big-endian
// 16-bit words; an odd last byte is the high byte of a last word.
uint16_t InternetChecksum(const uint8_t* bytes, size_t length);

// The 36 request bytes, checksum included.
void BuildEchoRequest(uint8_t* request, int identifier, int sequence, const timeval& sendTime,
                      const EchoMarker& marker);

// Reads a message as received on a raw ICMP socket (IP header first). A reply
// needs at least 36 bytes after the IP header and all the bytes it reads.
IcmpMessage ParseIcmpMessage(const uint8_t* bytes, size_t length);

}  // namespace Kelm
