// See Command.h.
#include "web/Command.h"

#include "foundation/Strings.h"
#include "monitor/Server.h"
#include "monitor/ServerManager.h"

namespace Kelm {

namespace {

// Walks a copy of the list rather than asking GetServer, which logs every
// miss: a miss is the normal case here.
bool IsListed(const std::string& name, int port)
{
    std::string lowered = ToLower(name);
    for (const SharedPtr<Server>& server : Singleton<ServerManager>::Instance()->GetServers()) {
        if (server->GetPort() == port && ToLower(server->GetName()) == lowered) return true;
    }
    return false;
}

}  // namespace

bool CommandAddServer::Execute()
{
    if (IsListed(m_hostName, m_port)) {
        m_failure = FAILURE_ALREADY_LISTED;
        m_result = 0;
        return false;
    }
    bool added = Singleton<ServerManager>::Instance()->AddServer(SharedPtr<Server>(new Server(m_hostName, m_port)));
    m_failure = added ? FAILURE_NONE : FAILURE_NOT_SAVED;
    m_result = added ? 1 : 0;
    return added;
}

bool CommandAddServer::Undo()
{
    bool deleted = Singleton<ServerManager>::Instance()->DeleteServer(m_hostName, m_port);
    m_result = deleted ? 1 : 0;
    return deleted;
}

}  // namespace Kelm
