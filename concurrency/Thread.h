// Long-lived background threads and the registry that counts them.
//
// A thread object is made by its owner, taken into a SharedPtr, and passed to
// Start, which runs Work on a new detached thread and keeps a reference in
// the registry until Work returns. The object is destroyed by whichever
// reference goes last: the registry's (on the thread itself) or the owner's.
//
//     SharedPtr<PollerThread> poller(new PollerThread());
//     Start(poller.Get());
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <map>

#include "concurrency/Mutex.h"
#include "foundation/Shareable.h"

namespace Kelm {

class Thread : public Shareable {
public:
    Thread() = default;
    ~Thread() override;

    virtual void Work() = 0;
    virtual void AfterWork() {}

    // Asks Work to end at its next test of the flag; wakes nothing.
    void Stop() { m_stop.store(true, std::memory_order_release); }
    bool IsStopped() const { return m_stop.load(std::memory_order_acquire); }
    uint64_t GetId() const { return m_id.load(std::memory_order_acquire); }

private:
    friend void Start(Thread* thread);
    friend void* ThreadEntry(void* argument);

    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_id{0};
    pthread_t m_handle{};
};

// Runs thread->Work on a new detached thread; logs the start, or
// "FAILED TO CREATE THREAD" and nothing else.
void Start(Thread* thread);

class ThreadRegistry {
public:
    static ThreadRegistry& Instance();

    void Add(const SharedPtr<Thread>& thread);
    void Remove(uint64_t id);
    int Count();
    // Holds the registry lock while a new thread is being made, so the new
    // thread cannot remove itself before it has been added.
    Mutex& GetMutex() { return m_mutex; }

private:
    ThreadRegistry() = default;
    Mutex m_mutex;
    std::map<uint64_t, SharedPtr<Thread>> m_threads KELM_GUARDED_BY(m_mutex);
};

}  // namespace Kelm
