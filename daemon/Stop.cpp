#include "daemon/Stop.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "foundation/Log.h"
#include "monitor/ServerManager.h"

namespace Kelm {

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

}  // namespace

void PrepareSignals()
{
    // A client that closes early must come back as a failed send, not end
    // the process.
    signal(SIGPIPE, SIG_IGN);
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void WatchStopSignals(std::function<void()> beforeExit)
{
    std::thread watcher([beforeExit = std::move(beforeExit)] {
        sigset_t signals = StopSignals();
        int received = 0;
        while (sigwait(&signals, &received) != 0) {
        }
        if (beforeExit) beforeExit();
        Log("Farview stopping.\n");
        std::fflush(stdout);
        // Other threads are still running: leave without static destructors.
        _exit(0);
    });
    watcher.detach();
}

void PrepareOrderlyStop()
{
    PrepareSignals();
    SetLogLineBuffered();
    WatchStopSignals([] { Singleton<ServerManager>::Instance()->FlushAllSamples(); });
}

}  // namespace Kelm
