// The registry of the monitoring core: the ordered server list (server.txt
// in the data folder), one sample store per (name, port) and one route per
// host name, all under one re-entrant mutex. The list is read on the first
// GetServers and written after every addition and deletion.
//
// Results are counted references, so a server, store or route stays valid for
// whoever holds it after a concurrent deletion. The manager's mutex is never
// held while a server's, store's or route's mutex is taken.
//
//     ServerManager* manager = Singleton<ServerManager>::Instance();
//     for (const SharedPtr<Server>& server : manager->GetServers()) ...
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "concurrency/Mutex.h"
#include "foundation/Shareable.h"
#include "monitor/Server.h"
#include "monitor/ServerData.h"
#include "net/Route.h"

namespace Kelm {

class ServerManager {
public:
    ServerManager();

    // A copy of the list, in list order; loads server.txt while that has not
    // yet succeeded.
    std::vector<SharedPtr<Server>> GetServers();
    // The first listed server with that host name (compared without regard
    // to case) and port, or null.
    SharedPtr<Server> GetServer(const std::string& name, int port);
    SharedPtr<ServerData> GetServerData(const SharedPtr<Server>& server);
    // Refuses (false, logged) a name and port already listed, names compared
    // without regard to case; false also when the list cannot be saved.
    bool AddServer(const SharedPtr<Server>& server);
    // Removes the first listed server with that name (without regard to case)
    // and port; its data file stays.
    bool DeleteServer(const std::string& name, int port);
    SharedPtr<Route> GetRoute(const std::string& name);
    // Writes the pending samples of every store (the orderly stop).
    void FlushAllSamples();

private:
    void CreateRoute(const std::string& name) KELM_REQUIRES(m_mutex);
    // Runs LoadServers while no load has succeeded yet.
    void LoadIfPending() KELM_REQUIRES(m_mutex);
    bool LoadServers() KELM_REQUIRES(m_mutex);
    bool SaveServers() KELM_REQUIRES(m_mutex);

    Mutex m_mutex;
    std::vector<SharedPtr<Server>> m_servers KELM_GUARDED_BY(m_mutex);
    std::map<std::pair<std::string, int>, SharedPtr<ServerData>> m_serverData KELM_GUARDED_BY(m_mutex);
    std::map<std::string, SharedPtr<Route>> m_routes KELM_GUARDED_BY(m_mutex);
    bool m_loadPending KELM_GUARDED_BY(m_mutex) = true;
};

}  // namespace Kelm
