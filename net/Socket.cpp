// TCP sockets over IPv4: connections, the listening socket and the typed
// values that travel over them.
//
// Invariants: a descriptor is closed only by Close (which forgets it, so a
// later Close or Connect can never close a number the system has handed to
// someone else meanwhile); Connect closes the descriptor it replaces, so a
// ClientSocket reused for every poll holds one descriptor at most; every
// send asks for no SIGPIPE, so a peer that went away is a failed send.
#include "net/Socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/Log.h"
#include "foundation/Strings.h"

namespace Kelm {

namespace {

// A string's bytes are read in pieces of this size, so a length announced
// by the peer costs memory only as its bytes actually arrive.
constexpr size_t STRING_PIECE = 65536;

// Pending connections the kernel keeps while all workers are busy. With a
// handful only, a burst (a browser fetching a page's charts, or a load test)
// overflows the queue; the kernel then drops the connection attempts and
// each client waits a full second for its retry.
constexpr int LISTEN_BACKLOG = 128;

void ApplyTimeout(int descriptor, int seconds)
{
    timeval value{};
    value.tv_sec = seconds;
    value.tv_usec = 0;
    int result = setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
    if (result != 0) Log("SOCKET: error setting timeout: " + ToString(result) + "\n");
    result = setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
    if (result != 0) Log("SOCKET: error setting timeout: " + ToString(result) + "\n");
}

}  // namespace

// --------------------------------------------------------------------- Socket

Socket::Socket() : m_descriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP))
{
}

Socket::Socket(int descriptor) : m_descriptor(descriptor)
{
}

Socket::~Socket()
{
    // The descriptor may live on in a copy: only Close ends it.
}

void Socket::Close()
{
    if (m_descriptor >= 0) ::close(m_descriptor);
    m_descriptor = -1;
}

void Socket::SetTimeout(int seconds)
{
    m_timeoutSeconds = seconds;
    ApplyTimeout(m_descriptor, seconds);
}

bool Socket::WriteText(const std::string& text)
{
    if (text.empty()) return true;
    return SendAll(text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool Socket::GetRawString(std::string& text)
{
    char buffer[1000];
    ssize_t got;
    do {
        got = ::read(m_descriptor, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        text.clear();
        return false;
    }
    // Up to the first zero byte, as a C string would end.
    text.assign(buffer, strnlen(buffer, static_cast<size_t>(got)));
    return true;
}

bool Socket::ReadInt(int& value)
{
    return ReceiveAll(&value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Socket::WriteInt(int value)
{
    return SendAll(&value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Socket::ReadFloat(float& value)
{
    return ReceiveAll(&value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Socket::WriteFloat(float value)
{
    return SendAll(&value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Socket::ReadString(std::string& text)
{
    int length = 0;
    if (!ReadInt(length) || length <= 0) return false;

    std::string received;
    size_t wanted = static_cast<size_t>(length);
    while (received.size() < wanted) {
        size_t piece = std::min(STRING_PIECE, wanted - received.size());
        size_t before = received.size();
        received.resize(before + piece);
        if (ReceiveAll(received.data() + before, piece) != static_cast<ssize_t>(piece)) return false;
    }
    // Up to the first zero byte, as a terminated buffer would read.
    text.assign(received.c_str());
    return true;
}

bool Socket::WriteString(const std::string& text)
{
    if (!WriteInt(static_cast<int>(text.size()))) return false;
    return SendAll(text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool Socket::WriteByte(char value)
{
    return SendAll(&value, 1) == 1;
}

bool Socket::ReadByte(char& value)
{
    return ReceiveAll(&value, 1) == 1;
}

ssize_t Socket::SendAll(const void* bytes, size_t count)
{
    const char* next = static_cast<const char*>(bytes);
    size_t left = count;
    while (left > 0) {
        ssize_t sent = ::send(m_descriptor, next, left, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        next += sent;
        left -= static_cast<size_t>(sent);
    }
    return static_cast<ssize_t>(count);
}

ssize_t Socket::ReceiveAll(void* buffer, size_t count)
{
    char* next = static_cast<char*>(buffer);
    size_t left = count;
    while (left > 0) {
        ssize_t got = ::read(m_descriptor, next, left);
        if (got < 0 && errno == EINTR) continue;
        // A peer that closes before count bytes arrived is a failure too:
        // the caller would otherwise take a half-filled buffer as a value.
        if (got <= 0) return -1;
        next += got;
        left -= static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(count);
}

// --------------------------------------------------------------- ClientSocket

ClientSocket::ClientSocket() = default;

ClientSocket::~ClientSocket() = default;

bool ClientSocket::Connect(const std::string& host, int port, bool stream)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = stream ? SOCK_STREAM : SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;

    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, std::min(sizeof address, static_cast<size_t>(found->ai_addrlen)));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    freeaddrinfo(found);

    // The descriptor of the previous Connect (or of the constructor) is
    // replaced: close it, or every poll would leak one.
    Close();
    m_descriptor = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (m_descriptor < 0) {
        Log("CONNECT: call to socket() failed.\n");
        return false;
    }
    if (m_timeoutSeconds != 0) ApplyTimeout(m_descriptor, m_timeoutSeconds);

    if (::connect(m_descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Log("CONNECT: call to connect() failed.\n");
        return false;
    }
    return true;
}

// --------------------------------------------------------------- ServerSocket

ServerSocket::ServerSocket(int port)
{
    // Restarting the daemon must not fail while connections it closed a
    // moment ago are still in TIME_WAIT; a port another process listens on
    // is still refused, and that is what the start-up check reports.
    //
    // No zero-time SO_LINGER: accepted connections would inherit it, and
    // closing such a connection resets it and throws away whatever of the
    // answer the peer has not received yet (a chart to a slow browser).
    int on = 1;
    setsockopt(m_descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));

    if (m_descriptor < 0) {
        m_listenError = errno;
    } else if (::bind(m_descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        m_listenError = errno;
    } else if (::listen(m_descriptor, LISTEN_BACKLOG) != 0) {
        m_listenError = errno;
    }
}

ServerSocket::~ServerSocket() = default;

bool ServerSocket::IsListening() const
{
    return m_listenError == 0;
}

std::string ServerSocket::GetError() const
{
    if (m_listenError == 0) return "";
    char buffer[256];
    return strerror_r(m_listenError, buffer, sizeof buffer);
}

Socket ServerSocket::Accept()
{
    int descriptor;
    do {
        descriptor = ::accept4(m_descriptor, nullptr, nullptr, SOCK_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    return Socket(descriptor);
}

}  // namespace Kelm
