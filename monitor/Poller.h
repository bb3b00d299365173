// The common beat of all polls. At every grid time the poller takes a fresh
// copy of the server list, keeps one poll thread per listed server (new
// threads for servers added at the end; all threads stopped and made anew
// when a server was removed or the order changed), gives each thread the
// grid time and wakes it. Every sample therefore carries a grid time, and
// the samples of all servers line up.
//
// Added and deleted servers are seen at the next grid time only.
#pragma once

#include <vector>

#include "concurrency/Thread.h"
#include "monitor/PollOneServerThread.h"
#include "monitor/Server.h"

namespace Kelm {

class Poller {
public:
    // The loop; never returns unless told to stop (tests).
    void Run(const Thread& owner);

    // One tick at grid time t: bring the threads in line with the list and
    // wake them. Exposed for tests.
    void Tick(const Time& t);

    const std::vector<SharedPtr<PollOneServerThread>>& GetPollThreads() const { return m_pollthreads; }

private:
    // pollthreads[i] polls servers[i]. The poller thread's alone.
    std::vector<SharedPtr<PollOneServerThread>> m_pollthreads;
};

class PollerThread : public Thread {
public:
    void Work() override;

private:
    Poller m_poller;
};

// Sleeps until the wall clock reaches t (whole seconds since the epoch).
void SleepUntil(const Time& t);

}  // namespace Kelm
