#include "monitor/PollWriter.h"

#include "monitor/ServerManager.h"

namespace Kelm {

bool PollWriterApp::Write(const SharedPtr<Server>& server, const PollSample& sample)
{
    SharedPtr<ServerData> data = Singleton<ServerManager>::Instance()->GetServerData(server);
    if (data) data->AddSample(sample);
    return true;
}

}  // namespace Kelm
