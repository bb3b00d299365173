// One monitored server's poll thread. At each wake-up it connects to the
// server, sends the byte 0x6A and closes; a failure is diagnosed (Diagnosis.h),
// a success keeps the server's route fresh. The outcome goes into the
// server's state and, as a sample carrying the scheduled grid time (never
// the moment the poll ran), into the server's store.
//
// The poller sets the scheduled time, then wakes the thread; to end it, the
// poller calls Stop and then Wake. The thread tests the stop flag and starts
// waiting under the gate's own mutex, and Wake signals under it, so a stop
// can never fall between the test and the wait.
#pragma once

#include <atomic>

#include "concurrency/Thread.h"
#include "concurrency/ThreadGate.h"
#include "monitor/Diagnosis.h"
#include "monitor/Server.h"

namespace Kelm {

class PollOneServerThread : public Thread {
public:
    explicit PollOneServerThread(const SharedPtr<Server>& server);
    ~PollOneServerThread() override;

    void Work() override;

    SharedPtr<Server> GetServer() const { return m_server; }
    void SetPollTime(const Time& time) { m_scheduledTime.store(time.GetSeconds(), std::memory_order_release); }
    void Wake();

    // The diagnosis of a failed poll of server, with the process's probes.
    void Diagnose(int& status, uint32_t& routerAddress, const SharedPtr<Server>& server);

    // How many polls this thread has finished (tests wait on it).
    int GetPollCount() const { return m_polls.load(std::memory_order_acquire); }

private:
    void PollOnce();
    void WaitForWake();

    const SharedPtr<Server> m_server;
    std::atomic<uint32_t> m_scheduledTime{0};
    ThreadGate m_gate;
    // Set by Wake, cleared when a poll ends; guarded by the gate's own mutex.
    bool m_woken = false;
    std::atomic<int> m_polls{0};
};

}  // namespace Kelm
