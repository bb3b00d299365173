// The daemon's HTTP server: an accept loop on the main thread and a fixed
// pool of ten worker threads, made once. Each accepted connection goes to
// one free worker, which reads and answers one request and closes it.
//
// Hand-over: a worker sets its free flag under its own lock and gives that
// lock up only inside its gate's wait; the accept loop takes the same lock
// before it signals the gate, so the signal always finds the worker waiting.
// When every worker is busy the accept loop sleeps on FreeWorkerSignal until
// a worker comes free, instead of testing the pool in a tight loop.
//
//     HttpServer().Run(port);   // never returns
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "concurrency/Mutex.h"
#include "concurrency/Thread.h"
#include "concurrency/ThreadGate.h"
#include "foundation/Shareable.h"
#include "net/Socket.h"

namespace Kelm {

constexpr int HTTP_WORKERS = 10;

// "Some worker came free": a count of such events under the gate's own
// mutex. The accept loop notes the count before it tests the workers and
// sleeps only while the count is unchanged, so a worker freed during the
// test is never missed.
class FreeWorkerSignal {
public:
    uint64_t GetCount();
    void Notify();
    void WaitForChange(uint64_t seen);

private:
    ThreadGate m_gate;
    uint64_t m_count = 0;  // guarded by m_gate's mutex
};

class HttpServerThread : public Thread {
public:
    // freeSignal, when given, is notified each time the worker comes free;
    // it must outlive the worker.
    explicit HttpServerThread(FreeWorkerSignal* freeSignal = nullptr);
    ~HttpServerThread() override;

    // Hands an accepted connection to this worker; only after IsFree was
    // true, on the accepting thread.
    void Serve(const Socket& socket);
    bool IsFree();
    void Work() override;
    // Reads and answers the request on the connection being served.
    void ProcessRequest();

private:
    Mutex m_lock;
    Socket m_socket KELM_GUARDED_BY(m_lock);
    int32_t m_free KELM_GUARDED_BY(m_lock) = 0;
    std::chrono::steady_clock::time_point m_handOver KELM_GUARDED_BY(m_lock);
    ThreadGate m_gate;
    FreeWorkerSignal* m_freeSignal;

    // The worker thread's own copies while it serves.
    Socket m_connection{-1};
    std::chrono::steady_clock::time_point m_deadline;
};

class HttpServer {
public:
    // Listens on the port on all IPv4 addresses and serves for ever. When
    // the port cannot be bound or listened on, logs why and ends the
    // process with status 1.
    [[noreturn]] void Run(int port);

private:
    FreeWorkerSignal m_freeSignal;
    std::vector<SharedPtr<HttpServerThread>> m_pool;
};

}  // namespace Kelm
