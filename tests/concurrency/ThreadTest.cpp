// The re-entrant lock, the gate and threads with their registry, on real
// threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "concurrency/Mutex.h"
#include "concurrency/Thread.h"
#include "concurrency/ThreadGate.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Test::CaptureLog;
using Test::WaitUntil;

TEST(Mutex, ReentrantAcrossTwoThreads)
{
    Mutex mutex;
    std::atomic<bool> otherHasIt{false};
    mutex.Lock();
    mutex.Lock();
    std::thread other([&] {
        mutex.Lock();
        otherHasIt = true;
        mutex.Unlock();
    });
    mutex.Unlock();
    // Still held once: the other thread must not get in. There is no event
    // to wait for here, so give it a fair chance to misbehave.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherHasIt);
    mutex.Unlock();
    other.join();
    EXPECT_TRUE(otherHasIt);
}

TEST(Mutex, GuardsACounter)
{
    Mutex mutex;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                MutexLocker outer(mutex);
                MutexLocker inner(mutex);
                ++counter;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counter, 40000);
}

TEST(MutexLocker, ReleaseEarlyThenNothingAtScopeEnd)
{
    Mutex mutex;
    {
        MutexLocker locker(mutex);
        EXPECT_TRUE(locker.IsHeld());
        locker.Release();
        EXPECT_FALSE(locker.IsHeld());
    }
    std::thread other([&] {
        MutexLocker locker(mutex);  // would block for ever on an unbalanced unlock
    });
    other.join();
}

TEST(ThreadGate, WaitForTimesOutWithTwoLines)
{
    ThreadGate gate;
    auto start = std::chrono::steady_clock::now();
    std::string log = CaptureLog([&] { gate.WaitFor(1); });
    EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(log,
              "THREADGATE - error calling pthread_cond_timedwait\n"
              "THREADGATE - failed because time already expired.\n");
}

TEST(ThreadGate, HandOverIsNeverLost)
{
    // The worker's pattern: flag under its lock, UnlockAndWait; the producer
    // takes the same lock before signalling.
    Mutex lock;
    ThreadGate gate;
    bool ready = false;  // guarded by lock
    int handed = 0;      // guarded by lock
    std::atomic<int> served{0};
    std::thread worker([&] {
        for (int round = 0; round < 200; ++round) {
            MutexLocker locker(lock);
            ready = true;
            gate.UnlockAndWait(locker);
            // A wake-up without a hand-over waits again.
            for (;;) {
                MutexLocker check(lock);
                if (!ready) break;
                gate.UnlockAndWait(check);
            }
            ++served;
        }
    });
    for (int round = 0; round < 200; ++round) {
        ASSERT_TRUE(WaitUntil([&] {
            MutexLocker locker(lock);
            return ready;
        }));
        MutexLocker locker(lock);
        ready = false;
        ++handed;
        gate.Signal();
    }
    worker.join();
    EXPECT_EQ(served, 200);
    EXPECT_EQ(handed, 200);
}

class QuickThread : public Thread {
public:
    explicit QuickThread(std::atomic<int>* live) : m_live(live) { ++*m_live; }
    ~QuickThread() override { --*m_live; }
    void Work() override {}

private:
    std::atomic<int>* m_live;
};

TEST(Thread, QuickWorkLeavesNoStaleEntry)
{
    std::atomic<int> live{0};
    int before = ThreadRegistry::Instance().Count();
    std::string log = CaptureLog([&] {
        for (int i = 0; i < 50; ++i) {
            SharedPtr<QuickThread> thread(new QuickThread(&live));
            Start(thread.Get());
        }
        ASSERT_TRUE(WaitUntil([&] { return live == 0; }));
        ASSERT_TRUE(WaitUntil([&] { return ThreadRegistry::Instance().Count() == before; }));
    });
    EXPECT_NE(log.find("STARTED THREAD "), std::string::npos);
    EXPECT_NE(log.find("  COUNT IS NOW "), std::string::npos);
    EXPECT_NE(log.find("DESTROYING THREAD "), std::string::npos);
    EXPECT_NE(log.find(" COUNT IS NOW: "), std::string::npos);
}

class BlockingThread : public Thread {
public:
    void Work() override
    {
        m_gate.Lock();
        m_started = true;
        while (!IsStopped()) m_gate.WaitLocked();
        m_gate.Unlock();
    }
    void StopAndWake()
    {
        m_gate.Lock();
        Stop();
        m_gate.SignalLocked();  // under the gate lock: cannot fall before the wait
        m_gate.Unlock();
    }
    std::atomic<bool> m_started{false};
    ThreadGate m_gate;
};

TEST(Thread, RegistryCountsRunningThreadsAndDestroysOnTheirOwnThread)
{
    SharedPtr<BlockingThread> thread(new BlockingThread());
    std::string started = CaptureLog([&] {
        Start(thread.Get());
        ASSERT_TRUE(WaitUntil([&] { return thread->m_started.load(); }));
    });
    char expected[128];
    std::snprintf(expected, sizeof expected, "STARTED THREAD %llu  COUNT IS NOW 1\n",
                  static_cast<unsigned long long>(thread->GetId()));
    EXPECT_EQ(started, expected);
    EXPECT_EQ(ThreadRegistry::Instance().Count(), 1);

    uint64_t id = thread->GetId();
    std::string destroyed = CaptureLog([&] {
        // The owner lets go first; the registry's reference is the last one,
        // released on the thread itself when Work returns.
        BlockingThread* raw = thread.Get();
        SharedPtr<BlockingThread> keep = thread;
        thread = nullptr;
        raw->StopAndWake();
        keep = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return ThreadRegistry::Instance().Count() == 0; }));
    });
    std::snprintf(expected, sizeof expected, "DESTROYING THREAD %llu COUNT IS NOW: 0\n",
                  static_cast<unsigned long long>(id));
    EXPECT_EQ(destroyed, expected);
}

}  // namespace
}  // namespace Kelm
