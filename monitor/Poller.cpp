#include "monitor/Poller.h"

#include <cerrno>
#include <ctime>

#include "foundation/Assert.h"
#include "monitor/PollInterval.h"
#include "monitor/ServerManager.h"

namespace Kelm {

void SleepUntil(const Time& t)
{
    // An absolute deadline on the wall clock: the wake-up lands on the grid
    // second itself, not a fraction of a second after it.
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(t.GetSeconds());
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void PollerThread::Work()
{
    m_poller.Run(*this);
}

void Poller::Run(const Thread& owner)
{
    PollInterval* interval = Singleton<PollInterval>::Instance();
    while (!owner.IsStopped()) {
        interval->AddOneSecond();
        Time t = interval->NextPollTime();
        SleepUntil(t);
        Tick(t);
    }
}

void Poller::Tick(const Time& t)
{
    std::vector<SharedPtr<Server>> servers = Singleton<ServerManager>::Instance()->GetServers();
    std::vector<SharedPtr<PollOneServerThread>>& pollthreads = m_pollthreads;

    // The threads can stay when the list only grew at its end.
    bool keep = servers.size() >= pollthreads.size();
    for (size_t i = 0; keep && i < pollthreads.size(); ++i) {
        keep = *servers[i] == *pollthreads[i]->GetServer();
    }
    if (!keep) {
        for (const SharedPtr<PollOneServerThread>& thread : pollthreads) {
            thread->Stop();
            thread->Wake();
        }
        pollthreads.clear();
    }

    const size_t running = pollthreads.size();
    for (size_t i = 0; i < servers.size(); ++i) {
        if (i < running) {
            const SharedPtr<Server>& pServ = servers[i];
            const SharedPtr<PollOneServerThread>& pPollOne = pollthreads[i];
            KELM_ASSERT(*pServ == *(pPollOne->GetServer()));
            continue;
        }
        // A new thread polls as soon as it starts, for this tick's time.
        SharedPtr<PollOneServerThread> thread(new PollOneServerThread(servers[i]));
        thread->SetPollTime(t);
        pollthreads.push_back(thread);
        Start(thread.Get());
    }
    KELM_ASSERT(pollthreads.size() == servers.size());

    for (size_t i = 0; i < running; ++i) {
        pollthreads[i]->SetPollTime(t);
        pollthreads[i]->Wake();
    }
}

}  // namespace Kelm
