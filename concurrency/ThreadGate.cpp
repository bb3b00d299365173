#include "concurrency/ThreadGate.h"

#include <cerrno>
#include <ctime>

#include "foundation/Log.h"

namespace Kelm {

ThreadGate::ThreadGate()
{
    pthread_cond_init(&m_condition, nullptr);
    pthread_mutex_init(&m_mutex, nullptr);
}

ThreadGate::~ThreadGate()
{
    pthread_cond_destroy(&m_condition);
    pthread_mutex_destroy(&m_mutex);
}

void ThreadGate::Wait()
{
    pthread_mutex_lock(&m_mutex);
    pthread_cond_wait(&m_condition, &m_mutex);
    pthread_mutex_unlock(&m_mutex);
}

void ThreadGate::WaitFor(int seconds)
{
    // Whole seconds of the wall clock, as pthread_cond_timedwait measures:
    // the wait ends `seconds` after the start of the current second. The
    // second is read from the precise clock: time() follows a coarse clock
    // that lags it by up to a tick, so just after a second begins it names
    // the second before, and a one-second wait would end at once.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    timespec deadline{};
    deadline.tv_sec = now.tv_sec + seconds;
    deadline.tv_nsec = 0;

    pthread_mutex_lock(&m_mutex);
    int result = pthread_cond_timedwait(&m_condition, &m_mutex, &deadline);
    pthread_mutex_unlock(&m_mutex);

    if (result != 0) {
        std::string text = "THREADGATE - error calling pthread_cond_timedwait\n";
        if (result == EINVAL) text += "THREADGATE - bad values for args.\n";
        if (result == ETIMEDOUT) text += "THREADGATE - failed because time already expired.\n";
        Log(text);
    }
}

void ThreadGate::WaitLocked()
{
    pthread_cond_wait(&m_condition, &m_mutex);
}

void ThreadGate::UnlockAndWait(MutexLocker& locker)
{
    pthread_mutex_lock(&m_mutex);
    locker.Release();
    pthread_cond_wait(&m_condition, &m_mutex);
    pthread_mutex_unlock(&m_mutex);
}

void ThreadGate::Signal()
{
    pthread_mutex_lock(&m_mutex);
    pthread_cond_signal(&m_condition);
    pthread_mutex_unlock(&m_mutex);
}

void ThreadGate::SignalLocked()
{
    pthread_cond_signal(&m_condition);
}

void ThreadGate::Broadcast()
{
    pthread_mutex_lock(&m_mutex);
    pthread_cond_broadcast(&m_condition);
    pthread_mutex_unlock(&m_mutex);
}

void ThreadGate::Lock()
{
    pthread_mutex_lock(&m_mutex);
}

void ThreadGate::Unlock()
{
    pthread_mutex_unlock(&m_mutex);
}

}  // namespace Kelm
