#include "concurrency/Mutex.h"

namespace Kelm {

Mutex::Mutex()
{
    pthread_mutex_init(&m_mutex, nullptr);
}

Mutex::~Mutex()
{
    pthread_mutex_destroy(&m_mutex);
}

void Mutex::Lock()
{
    if (pthread_mutex_trylock(&m_mutex) != 0) {
        // Busy: either we hold it already (go one deeper), or someone else
        // does (wait for it). Only the owner can see itself as the owner.
        if (m_depth.load(std::memory_order_relaxed) != 0 &&
            pthread_equal(m_owner.load(std::memory_order_relaxed), pthread_self())) {
            m_depth.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        pthread_mutex_lock(&m_mutex);
    }
    m_owner.store(pthread_self(), std::memory_order_relaxed);
    m_depth.store(1, std::memory_order_relaxed);
}

void Mutex::Unlock()
{
    if (m_depth.fetch_sub(1, std::memory_order_relaxed) == 1) {
        // Forget the owner before letting go, so a thread id reused later
        // can never look like a holder.
        m_owner.store(pthread_t{}, std::memory_order_relaxed);
        pthread_mutex_unlock(&m_mutex);
    }
}

MutexLocker::MutexLocker(Mutex& mutex) : m_mutex(&mutex), m_held(true)
{
    m_mutex->Lock();
}

MutexLocker::~MutexLocker()
{
    if (m_held) m_mutex->Unlock();
}

void MutexLocker::Release()
{
    if (m_held) {
        m_held = false;
        m_mutex->Unlock();
    }
}

}  // namespace Kelm
