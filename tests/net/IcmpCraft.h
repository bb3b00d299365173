// Hand-made ICMP messages as a raw socket receives them (IP header first),
// for the parsing and delivery tests.
#pragma once

#include <cstdint>
#include <vector>

#include "net/SimplePing.h"

namespace Kelm::Test {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& bytes, size_t at, uint32_t value)
{
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
}

inline void Put32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// An IPv4 header of headerLength bytes (20 plus options) carrying ICMP.
inline Bytes IpHeader(size_t headerLength, uint32_t source, uint32_t destination)
{
    Bytes header(headerLength, 0);
    header[0] = static_cast<uint8_t>(0x40 | (headerLength / 4));
    header[8] = 64;  // time-to-live
    header[9] = 1;   // ICMP
    Put32(header, 12, source);
    Put32(header, 16, destination);
    return header;
}

inline Bytes Join(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The 36-byte echo request as our pinger sends it.
inline Bytes EchoRequest(int identifier, const EchoMarker& marker = EchoMarker())
{
    Bytes request(ECHO_REQUEST_SIZE, 0);
    timeval zero{};
    BuildEchoRequest(request.data(), identifier, 0, zero, marker);
    return request;
}

// What a host sends back: the request with type 0, under an IP header.
inline Bytes EchoReplyMessage(int identifier, const EchoMarker& marker = EchoMarker(), size_t headerLength = 20)
{
    Bytes icmp = EchoRequest(identifier, marker);
    icmp[0] = ICMP_ECHO_REPLY_TYPE;
    return Join(IpHeader(headerLength, 0x0A000002, 0x0A000001), icmp);
}

// A router's time exceeded for our echo to destination: 8 bytes of ICMP
// header, then the expired packet's IP header (quotedHeaderLength bytes) and
// the first quotedEchoBytes bytes of the echo request.
inline Bytes TimeExceededMessage(int identifier, uint32_t destination, const EchoMarker& marker = EchoMarker(),
                                 size_t quotedHeaderLength = 20, size_t quotedEchoBytes = ECHO_REQUEST_SIZE)
{
    Bytes icmp(8, 0);
    icmp[0] = ICMP_TIME_EXCEEDED_TYPE;
    Bytes echo = EchoRequest(identifier, marker);
    echo.resize(quotedEchoBytes);
    Bytes quoted = Join(IpHeader(quotedHeaderLength, 0x0A000001, destination), echo);
    return Join(IpHeader(20, 0x0A4D0002, 0x0A000001), Join(icmp, quoted));
}

}  // namespace Kelm::Test
