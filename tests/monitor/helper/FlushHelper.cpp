// A stand-in for the daemon in the stop tests: the daemon's signal set-up and
// stop action, with samples stored through the registry at start (the
// daemon's own polls would take many minutes to make them). It adds the
// number of samples given as its argument to every listed server's store,
// logs "SAMPLES ADDED" and waits to be stopped.
#include <unistd.h>

#include <cstdlib>

#include "daemon/Stop.h"
#include "foundation/Locations.h"
#include "foundation/Log.h"
#include "monitor/ServerManager.h"

namespace Kelm {
const char* const ApplicationName = "Farview";
}

int main(int argc, char** argv)
{
    using namespace Kelm;
    PrepareOrderlyStop();

    const int count = argc > 1 ? std::atoi(argv[1]) : 0;
    ServerManager* manager = Singleton<ServerManager>::Instance();
    for (const SharedPtr<Server>& server : manager->GetServers()) {
        SharedPtr<ServerData> store = manager->GetServerData(server);
        for (int i = 0; i < count; ++i) {
            PollSample sample;
            sample.m_time = Time(1200 + 120 * static_cast<uint32_t>(i));
            sample.m_status = PollSample::KELM_SERVER_DOWN;
            sample.m_connectSeconds = i;
            store->AddSample(sample);
        }
    }
    Log("SAMPLES ADDED\n");
    for (;;) pause();
}
