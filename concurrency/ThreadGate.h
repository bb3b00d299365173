// The hand-over point between a producer and one waiting thread: a condition
// variable with a mutex of its own and no other state. A signal that finds
// nobody waiting is lost, and a waiter may wake without a signal, so users
// keep their own flags under their own lock and test them after each wait.
//
// UnlockAndWait gives up the caller's lock only once the gate's mutex is
// held; a producer that takes that lock before Signal therefore always finds
// the waiter inside the wait, and the hand-over cannot be lost.
#pragma once

#include <pthread.h>

#include "concurrency/Mutex.h"

namespace Kelm {

class ThreadGate {
public:
    ThreadGate();
    ~ThreadGate();
    ThreadGate(const ThreadGate&) = delete;
    ThreadGate& operator=(const ThreadGate&) = delete;

    void Wait();
    // Waits until `seconds` after the start of the current second of the
    // wall clock; a time-out is logged (two lines).
    void WaitFor(int seconds);
    // Waits with the gate's mutex held by the caller (Lock/Unlock below),
    // so a flag tested under Lock cannot change before the wait begins.
    void WaitLocked();
    void UnlockAndWait(MutexLocker& locker);
    void Signal();
    void Broadcast();

    // The gate's own mutex, for callers that must test a flag and start
    // waiting as one step (WaitLocked), or set it and wake as one step
    // (SignalLocked): then no wake-up can fall between test and wait.
    void Lock();
    void Unlock();
    void SignalLocked();

private:
    pthread_cond_t m_condition;
    pthread_mutex_t m_mutex;
};

}  // namespace Kelm
