// The shared pinger. Every user (the network checker, each route) owns an
// MtPinger that sends its echoes on its own socket and sleeps on its own gate;
// one receive thread reads every echo reply and time-exceeded message that
// reaches the machine, finds the pinger entered under the message's echo
// identifier and wakes it with the sender's address.
//
// An identifier (1 to 99, handed out in turn) belongs to a pinger for one
// Ping call. Identifiers alone cannot tell our echoes from another process's
// (every raw ICMP socket sees every reply), nor from a late answer to an
// earlier ping that had the same identifier, so each Ping also writes a
// marker into the echo's filler bytes and the receive thread wakes the pinger
// only for a message carrying that marker (or, for a router that quotes too
// little of the echo to show it, a time-exceeded message for an echo that
// was going to the pinger's own target).
//
//     SharedPtr<MtPinger> pinger(new MtPinger());
//     uint32_t router = 0;
//     if (pinger->Ping("example.net", 3, 3, 2, router)) ...   // who answered ttl 2
//
// Lock order: a caller's own lock (route, checker) may be held while Ping
// takes the receive thread's mutex; the receive thread holds its mutex while
// it takes a pinger's reply lock (SetReply), never the other way round.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

#include "concurrency/Mutex.h"
#include "concurrency/Thread.h"
#include "concurrency/ThreadGate.h"
#include "foundation/Shareable.h"
#include "net/SimplePing.h"

namespace Kelm {

class MtPinger : public Shareable {
public:
    class MtPingReceiveThread;

    MtPinger();
    ~MtPinger() override;  // closes the socket

    // True when an echo reply or time-exceeded message for one of the (at
    // most count) echoes to host arrived, each awaited for up to waitSeconds;
    // replyAddress is then its sender. ttl 0 keeps the socket's own. The
    // pinger must be held by a SharedPtr, and used by one thread at a time.
    bool Ping(const char* host, int count, int waitSeconds, int ttl, uint32_t& replyAddress);

    // Receive thread only, under its mutex: stores the sender and wakes Ping.
    void SetReply(uint32_t address);

    // Whether a message delivered under this pinger's identifier answers the
    // echo under way. Receive thread only, under its mutex.
    bool IsReplyToCurrentEcho(const IcmpMessage& message) const;

    // Starts a new echo exchange to target (first octet in the top byte) and
    // returns the marker its echoes carry. Ping calls it before AddWaiter;
    // tests use it to stand in for a Ping.
    EchoMarker BeginEcho(uint32_t target);

    bool GotReply();
    uint32_t GetReplyAddress();
    int GetSocket() const { return m_socket; }  // -1 when not open

private:
    void ClearReply();

    Mutex m_replyMutex;
    uint32_t m_replyAddress KELM_GUARDED_BY(m_replyMutex) = 0;
    bool m_gotReply KELM_GUARDED_BY(m_replyMutex) = false;
    ThreadGate m_gate;
    int m_socket = -1;  // the pinging thread's only: opened on first use, kept

    // The echo under way. Written by the pinging thread before AddWaiter and
    // read by the receive thread only while this pinger is in the waiters
    // table; the receive thread's mutex orders the two.
    uint32_t m_target = 0;
    EchoMarker m_marker;
};

class MtPinger::MtPingReceiveThread : public Thread {
public:
    static constexpr int MAX_WAITERS = 100;

    MtPingReceiveThread() = default;  // the process has one: GetReceiveThread
    ~MtPingReceiveThread() override;

    // The receive loop; without a socket (no privilege) it tries again once a
    // minute.
    void Work() override;

    // The identifier under which replies for pinger are delivered: 1 to 99,
    // in turn.
    int AddWaiter(const SharedPtr<MtPinger>& pinger);
    void RemoveWaiter(int id);

    // Wakes the pinger entered under the message's identifier when the
    // message answers its echo; true when one was woken.
    bool Deliver(const IcmpMessage& message, uint32_t sender);

    // Opens the thread's own socket, or logs why it cannot. Called before the
    // thread starts (StartReceiveThread), then by Work once a minute while it
    // has none.
    bool OpenSocket();

private:
    void WaitBeforeRetry();

    Mutex m_mutex;
    // Entries are overwritten and cleared, never erased; a null one is free.
    std::map<int, SharedPtr<MtPinger>> m_waiters KELM_GUARDED_BY(m_mutex);
    static int s_waiterId;  // the next identifier; guarded by m_mutex of the one instance

    // This thread's own; set before the thread starts, then by Work only.
    int m_socket = -1;
    bool m_openFailed = false;
    std::mutex m_retryMutex;
    std::condition_variable m_retry;
};

// The process's receive thread, made on first use and never destroyed.
MtPinger::MtPingReceiveThread* GetReceiveThread();

// Starts the receive thread (once; later calls do nothing). The daemon calls
// it at start-up, before anything can ping.
void StartReceiveThread();

}  // namespace Kelm
