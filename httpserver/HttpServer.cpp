// The accept loop and the worker pool; see HttpServer.h.
#include "httpserver/HttpServer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "foundation/Assert.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"
#include "httpserver/DeferredLog.h"
#include "httpserver/ProcessRequest.h"

namespace Kelm {

// ---------------------------------------------------------- FreeWorkerSignal

uint64_t FreeWorkerSignal::GetCount()
{
    m_gate.Lock();
    uint64_t count = m_count;
    m_gate.Unlock();
    return count;
}

void FreeWorkerSignal::Notify()
{
    m_gate.Lock();
    ++m_count;
    m_gate.Unlock();
    m_gate.Signal();
}

void FreeWorkerSignal::WaitForChange(uint64_t seen)
{
    m_gate.Lock();
    while (m_count == seen) m_gate.WaitLocked();
    m_gate.Unlock();
}

// ----------------------------------------------------------- HttpServerThread

HttpServerThread::HttpServerThread(FreeWorkerSignal* freeSignal) : m_socket(-1), m_freeSignal(freeSignal)
{
}

HttpServerThread::~HttpServerThread()
{
    // The connection, if any, is the worker's to close; nothing to do.
}

void HttpServerThread::Serve(const Socket& socket)
{
    DeferLog("HTTP SERVER: Serve() called....\n");
    {
        MutexLocker locker(m_lock);
        m_socket.SetDescriptor(socket.GetDescriptor());
        m_handOver = std::chrono::steady_clock::now();
        m_free = 0;
        m_gate.Signal();
        DeferLog("HTTP SERVER: Serve() called, opened gate.\n");
    }
    FlushDeferredLog();
}

bool HttpServerThread::IsFree()
{
    MutexLocker locker(m_lock);
    return m_free != 0;
}

void HttpServerThread::Work()
{
    for (;;) {
        {
            MutexLocker locker(m_lock);
            m_free = 1;
            DeferLog("HTTP SERVER: Ready, waiting for Serve() to be called.\n");
            FlushDeferredLog();
            // Under the worker lock: the accept loop cannot hand over until
            // this worker is inside the gate's wait below.
            if (m_freeSignal) m_freeSignal->Notify();
            m_gate.UnlockAndWait(locker);
        }
        // A wake-up without a hand-over leaves the flag at 1: wait again.
        for (;;) {
            MutexLocker locker(m_lock);
            if (m_free == 0) {
                m_connection = m_socket;
                m_deadline = m_handOver + std::chrono::seconds(REQUEST_SECONDS);
                break;
            }
            m_gate.UnlockAndWait(locker);
        }

        DeferLog("HTTP SERVER: Gate unlocked, serving client.\n");
        ProcessRequest();
        m_connection.Close();
    }
}

void HttpServerThread::ProcessRequest()
{
    Kelm::ProcessRequest(m_connection, m_deadline);
}

// ----------------------------------------------------------------- HttpServer

void HttpServer::Run(int port)
{
    Log("Listening on port " + ToString(port) + "\n");
    ServerSocket listening(port);
    if (!listening.IsListening()) {
        Log("HTTP SERVER: cannot listen on port " + ToString(port) + ": " + listening.GetError() + "\n");
        std::fflush(stdout);
        // Other threads are running: leave without static destructors.
        _exit(1);
    }

    // Accepted connections inherit the listening socket's send and receive
    // time-outs, so each gets its ten seconds without a call of its own.
    // The price: an accept that waits that long returns EAGAIN, and is
    // simply made again.
    listening.SetTimeout(REQUEST_SECONDS);

    for (int made = 0; made < HTTP_WORKERS; ++made) {
        SharedPtr<HttpServerThread> worker(new HttpServerThread(&m_freeSignal));
        Start(worker.Get());
        m_pool.push_back(worker);
    }

    const int sz = static_cast<int>(m_pool.size());
    int c = 0;
    for (;;) {
        Socket accepted = listening.Accept();
        if (accepted.GetDescriptor() < 0) {
            int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK) continue;  // ten quiet seconds
            char buffer[256];
            Log(std::string("HTTP SERVER: accept failed: ") + strerror_r(error, buffer, sizeof buffer) + "\n");
            // Out of descriptors or memory: every retry would fail at once.
            // Give the workers a moment to close theirs.
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            continue;
        }
        DeferLog("Accepted a new connection.\n");

        // From the search position on, round the pool, to the first free
        // worker; when a whole round finds none, sleep until one comes free.
        for (;;) {
            uint64_t seen = m_freeSignal.GetCount();
            bool found = false;
            for (int tested = 0; tested < sz; ++tested) {
                if (m_pool[c]->IsFree()) {
                    found = true;
                    break;
                }
                ++c;
                if (c == sz) c = 0;
                KELM_ASSERT(c <= sz);
            }
            if (found) break;
            FlushDeferredLog();
            m_freeSignal.WaitForChange(seen);
        }
        KELM_ASSERT(c < sz);

        // The descriptor is the worker's from here; the local wrapper goes
        // without closing it.
        m_pool[c]->Serve(accepted);
    }
}

}  // namespace Kelm
