// Thin classes over IPv4 TCP sockets: the HTTP server's listening socket and
// its accepted connections, each server's poll socket, the HTTP client's.
//
// A socket object does not own its descriptor: only Close closes it, and
// destroying or copying the object leaves the connection alone. That is what
// lets the accept loop copy a descriptor into a worker's Socket and drop its
// own wrapper.
//
// Typed values (ReadInt, WriteString, ...) travel in the machine's byte order.
#pragma once

#include <sys/types.h>

#include <string>

#include "foundation/Shareable.h"

namespace Kelm {

class SerialInterface : public Shareable {
public:
    ~SerialInterface() override = default;
    virtual bool ReadInt(int& value) = 0;
    virtual bool WriteInt(int value) = 0;
    virtual bool ReadFloat(float& value) = 0;
    virtual bool WriteFloat(float value) = 0;
    virtual bool ReadString(std::string& text) = 0;
    virtual bool WriteString(const std::string& text) = 0;
};

class Socket : public SerialInterface {
public:
    Socket();                          // a new TCP descriptor
    explicit Socket(int descriptor);   // wraps an existing one (from accept)
    ~Socket() override;                // does not close the descriptor

    void Close();
    // Send and receive time-out of the current descriptor and of every
    // descriptor a later Connect makes.
    void SetTimeout(int seconds);

    bool WriteText(const std::string& text);   // every byte, nothing added
    bool GetRawString(std::string& text);      // one read of at most 1000 bytes

    bool ReadInt(int& value) override;
    bool WriteInt(int value) override;
    bool ReadFloat(float& value) override;
    bool WriteFloat(float value) override;
    bool ReadString(std::string& text) override;
    bool WriteString(const std::string& text) override;
    virtual bool WriteByte(char value);
    virtual bool ReadByte(char& value);

    // count, or -1 when a call failed (or the peer closed before count bytes).
    ssize_t SendAll(const void* bytes, size_t count);
    ssize_t ReceiveAll(void* buffer, size_t count);

    int GetDescriptor() const { return m_descriptor; }
    void SetDescriptor(int descriptor) { m_descriptor = descriptor; }

protected:
    int m_descriptor = -1;
    int m_timeoutSeconds = 0;  // 0: no time-out was set
};

class ClientSocket : public Socket {
public:
    ClientSocket();
    ~ClientSocket() override;

    // Resolves host (getaddrinfo, IPv4) and connects a fresh descriptor with
    // this socket's time-outs. False, silently, when the name does not
    // resolve; the two CONNECT lines for socket and connect failures.
    bool Connect(const std::string& host, int port, bool stream);
};

class ServerSocket : public Socket {
public:
    explicit ServerSocket(int port);
    ~ServerSocket() override;

    bool IsListening() const;   // bind and listen both succeeded
    std::string GetError() const;  // the system's text for the failure
    Socket Accept();            // descriptor -1 when accept failed

private:
    int m_listenError = 0;      // errno of the failed socket, bind or listen
};

}  // namespace Kelm
