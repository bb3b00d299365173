// The server registry. Invariants, under the registry's one mutex:
//
// - Every listed server has a route (keyed by its host name without regard
//   to case: one host, one trace) and a sample store under its exact name
//   and port, as long as any listed entry has that name and port.
// - server.txt is only replaced whole: written to a temporary file beside
//   it, synced, renamed over it and the folder synced, so a crash during a
//   save leaves the old list or the new one.
// - The registry's mutex is never held while a server's, store's or route's
//   mutex is taken: work on those (flushing a store) happens after the
//   registry's lock is released, on references taken under it.
#include "monitor/ServerManager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/File.h"
#include "foundation/Locations.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"

namespace Kelm {

namespace {

const char* const SERVER_LIST_NAME = "server.txt";
const char* const SERVER_LIST_TEMP_NAME = "server.txt.tmp";

std::string ServerListPath()
{
    static const std::string s_path = GetDataFolder() + SERVER_LIST_NAME;
    return s_path;
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameHostName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::string RouteKey(const std::string& name)
{
    std::string key(name);
    for (char& c : key) c = AsciiLower(c);
    return key;
}

std::string NameAndPort(const std::string& name, int port)
{
    return name + " port " + ToString(port) + "\n";
}

// Makes a completed rename durable: the folder entry itself must reach the disk.
void SyncFolder(const std::string& folder)
{
    int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0 || ::fsync(descriptor) != 0) {
        Log("Failed to sync the data folder " + folder + ": " + std::strerror(errno) + "\n");
    }
    if (descriptor >= 0) ::close(descriptor);
}

}  // namespace

ServerManager::ServerManager() = default;

std::vector<SharedPtr<Server>> ServerManager::GetServers()
{
    MutexLocker locker(m_mutex);
    LoadIfPending();
    return m_servers;
}

void ServerManager::LoadIfPending()
{
    if (!m_loadPending) return;
    m_loadPending = false;
    if (!LoadServers()) m_loadPending = true;
}

SharedPtr<Server> ServerManager::GetServer(const std::string& name, int port)
{
    MutexLocker locker(m_mutex);
    for (const SharedPtr<Server>& server : m_servers) {
        if (server->GetPort() == port && SameHostName(server->GetName(), name)) return server;
    }
    Log("GetServer failed to look up server " + NameAndPort(name, port));
    return nullptr;
}

SharedPtr<ServerData> ServerManager::GetServerData(const SharedPtr<Server>& server)
{
    MutexLocker locker(m_mutex);
    auto found = m_serverData.find({server->GetName(), server->GetPort()});
    if (found == m_serverData.end()) {
        Log("*** Bad server data! " + server->GetName() + "\n");
        return nullptr;
    }
    return found->second;
}

bool ServerManager::AddServer(const SharedPtr<Server>& server)
{
    MutexLocker locker(m_mutex);
    // Saving a list that was never read would throw away the one on disk.
    LoadIfPending();
    const std::string name = server->GetName();
    const int port = server->GetPort();
    for (const SharedPtr<Server>& listed : m_servers) {
        if (listed->GetPort() == port && SameHostName(listed->GetName(), name)) {
            Log("Server is already listed: " + NameAndPort(name, port));
            return false;
        }
    }

    m_servers.push_back(server);
    m_serverData[{name, port}] = new ServerData(name, port);
    CreateRoute(name);
    if (!SaveServers()) {
        Log("Failed to save server list.\n");
        return false;
    }
    return true;
}

bool ServerManager::DeleteServer(const std::string& name, int port)
{
    SharedPtr<ServerData> removedStore;
    bool saved = false;
    {
        MutexLocker locker(m_mutex);
        LoadIfPending();
        auto found = m_servers.begin();
        while (found != m_servers.end() && !((*found)->GetPort() == port && SameHostName((*found)->GetName(), name))) {
            ++found;
        }
        if (found == m_servers.end()) {
            Log("Attempt to delete server which is not managed.\n" + NameAndPort(name, port));
            return false;
        }
        // The store is filed under the listed spelling of the name.
        const std::string storedName = (*found)->GetName();
        m_servers.erase(found);

        bool stillListed = false;
        for (const SharedPtr<Server>& listed : m_servers) {
            if (listed->GetPort() == port && listed->GetName() == storedName) stillListed = true;
        }
        // A second entry of the same name and port keeps polling into the store.
        if (!stillListed) {
            auto store = m_serverData.find({storedName, port});
            if (store == m_serverData.end()) {
                Log("No server data for deleted server.\n" + NameAndPort(storedName, port));
                return false;
            }
            removedStore = store->second;
            m_serverData.erase(store);
        }

        saved = SaveServers();
        if (!saved) Log("Failed to save server list.\n");
    }
    // Outside the registry's lock: the history on disk stays complete, ready
    // for the same name and port to be added again.
    if (removedStore) removedStore->Flush();
    return saved;
}

SharedPtr<Route> ServerManager::GetRoute(const std::string& name)
{
    MutexLocker locker(m_mutex);
    auto found = m_routes.find(RouteKey(name));
    if (found == m_routes.end()) return nullptr;
    return found->second;
}

void ServerManager::FlushAllSamples()
{
    std::vector<SharedPtr<ServerData>> stores;
    {
        MutexLocker locker(m_mutex);
        for (const auto& entry : m_serverData) stores.push_back(entry.second);
    }
    for (const SharedPtr<ServerData>& store : stores) store->Flush();
}

void ServerManager::CreateRoute(const std::string& name)
{
    SharedPtr<Route>& route = m_routes[RouteKey(name)];
    if (!route) route = new Route(name);
}

bool ServerManager::LoadServers()
{
    File file(true, false);
    if (!file.OpenRead(ServerListPath(), false, false)) {
        Log("Failed to open servers file.\n");
        return false;
    }
    int count = 0;
    if (!file.GetInteger(count)) {
        Log("Expected number of servers.\n");
        return false;
    }

    // A retried load finds the servers of the earlier try (and any added
    // since) already listed: those are kept as they are, with their stores.
    const size_t listedBefore = m_servers.size();
    for (int i = 0; i < count; ++i) {
        std::string name;
        if (!file.GetDataLine(name)) {
            Log("Expected server name.\n");
            return false;
        }
        int port = 0;
        if (!file.GetInteger(port)) {
            Log("Expected port number.\n");
            return false;
        }

        bool alreadyListed = false;
        for (size_t k = 0; k < listedBefore; ++k) {
            if (m_servers[k]->GetPort() == port && SameHostName(m_servers[k]->GetName(), name)) alreadyListed = true;
        }
        if (alreadyListed) continue;

        m_servers.push_back(new Server(name, port));
        m_serverData[{name, port}] = new ServerData(name, port);
        CreateRoute(name);
    }
    return true;
}

bool ServerManager::SaveServers()
{
    const std::string folder = GetDataFolder();
    const std::string temporary = folder + SERVER_LIST_TEMP_NAME;

    // The header is written by hand: File would name the temporary file in it.
    File file(false, false);
    bool ok = file.OpenWrite(temporary, 0, false, false, true) &&
              file.WriteString(std::string("// ") + SERVER_LIST_NAME) &&
              file.WriteString("// File version follows on next line.") &&
              file.WriteUnsigned(static_cast<unsigned>(FILE_VERSION)) && file.WriteString("");
    if (!ok) {
        Log("Failed to open server file for writing.\n");
    } else if (!file.WriteUnsigned(static_cast<unsigned>(m_servers.size()))) {
        Log("Failed to write no of servers to file.\n");
        ok = false;
    } else {
        for (const SharedPtr<Server>& server : m_servers) {
            if (!file.WriteString(server->GetName())) {
                Log("Failed to write server name.\n");
                ok = false;
                break;
            }
            if (!file.WriteUnsigned(static_cast<unsigned>(server->GetPort()))) {
                Log("Failed to write server port.\n");
                ok = false;
                break;
            }
        }
    }
    if (ok && !file.Sync()) {
        Log("Failed to sync server file " + temporary + ".\n");
        ok = false;
    }
    file.Close();

    if (ok && std::rename(temporary.c_str(), ServerListPath().c_str()) != 0) {
        Log("Failed to rename " + temporary + " over " + ServerListPath() + ": " + std::strerror(errno) + "\n");
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

}  // namespace Kelm
