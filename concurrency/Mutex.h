// A re-entrant lock and its scoped holder. The same thread may lock several
// times and must unlock as often; the lock is free again when the depth
// comes back to zero.
//
//     Mutex m_mutex;
//     int m_count KELM_GUARDED_BY(m_mutex);
//     ...
//     MutexLocker locker(m_mutex);   // unlocks at the end of the scope
#pragma once

#include <pthread.h>

#include <atomic>

#include "foundation/ThreadSafety.h"

namespace Kelm {

class KELM_CAPABILITY("mutex") Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock() KELM_ACQUIRE();
    void Unlock() KELM_RELEASE();

private:
    pthread_mutex_t m_mutex;
    // Read without the POSIX mutex by threads testing whether they already
    // own the lock, hence atomic. Only the owner changes them.
    std::atomic<int> m_depth{0};
    std::atomic<pthread_t> m_owner{};
};

class KELM_SCOPED_CAPABILITY MutexLocker {
public:
    explicit MutexLocker(Mutex& mutex) KELM_ACQUIRE(mutex);
    ~MutexLocker() KELM_RELEASE();
    MutexLocker(const MutexLocker&) = delete;
    MutexLocker& operator=(const MutexLocker&) = delete;

    bool IsHeld() const { return m_held; }
    // Unlocks now unless already released; the destructor then does nothing.
    void Release() KELM_RELEASE();
    Mutex* GetMutex() const { return m_mutex; }

private:
    friend class ThreadGate;
    Mutex* m_mutex;
    bool m_held;
};

}  // namespace Kelm
