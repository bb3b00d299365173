// One monitored web server: a host name and a TCP port, what the latest polls
// found, and the client socket its poll thread connects with.
//
// Name and port never change and are read without the lock; the four state
// fields are written by the server's poll thread and read by the pages, each
// under the server's own mutex.
#pragma once

#include <cstdint>
#include <string>

#include "concurrency/Mutex.h"
#include "concurrency/Time.h"
#include "foundation/Shareable.h"
#include "net/Socket.h"

namespace Kelm {

class Server : public Shareable {
public:
    // Gives the socket its time-out: the poll interval minus 3, at least 1.
    Server(const std::string& name, int port);
    ~Server() override;

    std::string GetName() const { return m_name; }
    int GetPort() const { return m_port; }
    int GetStatus();
    TimePeriod GetStateDuration();
    uint32_t GetRouterAddress();

    // Records one poll's outcome; the duration grows while the status stays
    // and polls come no further apart than one and a half intervals.
    void SetStatus(int status, const Time& sampleTime, uint32_t routerAddress);

    ClientSocket& GetSocket() { return m_socket; }  // the poll thread's alone

    // Same name byte for byte and same port.
    bool operator==(const Server& other) const { return m_name == other.m_name && m_port == other.m_port; }

private:
    Mutex m_mutex;
    TimePeriod m_stateDuration KELM_GUARDED_BY(m_mutex);
    int m_status KELM_GUARDED_BY(m_mutex);
    uint32_t m_routerAddress KELM_GUARDED_BY(m_mutex) = 0;
    Time m_lastSampleTime KELM_GUARDED_BY(m_mutex){0};
    const std::string m_name;
    const int m_port;
    ClientSocket m_socket;
};

}  // namespace Kelm
