// Route tracing with the route's own pinger. See Route.h.
//
// The host name is resolved once per trace and the echoes go to that
// address: a name with several addresses may resolve differently at each
// look-up, and a trace whose echoes went to one address while its end test
// compared with another would never see the target reached.
//
// FindBadRouter blames hops[t - 2] for a first silent time-to-live t: that is
// the router that answered time-to-live t when the route was traced, i.e.
// the router at the distance that now stays silent. Time-to-live 1 has no
// recorded hop (tracing starts at 2), so a silent first router is reported
// as hops[0], the nearest router the route knows.
#include "net/Route.h"

#include <arpa/inet.h>

#include "net/MtPinger.h"
#include "net/SimplePing.h"

namespace Kelm {

namespace {

constexpr int FIRST_TRACED_TTL = 2;
constexpr int LAST_TRACED_TTL = 29;
constexpr int REFRESH_ECHOES = 3;
constexpr int ECHO_WAIT_SECONDS = 3;
constexpr int PROBE_ECHOES = 1;

// The resolved address as dotted text, which Ping uses without a look-up.
std::string DottedText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

}  // namespace

Route::Route(const std::string& hostName) : m_hostName(hostName), m_pinger(new MtPinger())
{
}

Route::~Route() = default;

bool Route::IsValid()
{
    MutexLocker locker(m_mutex);
    return !m_hops.empty();
}

TimePeriod Route::GetAge()
{
    MutexLocker locker(m_mutex);
    return Time() - m_lastRefresh;
}

std::vector<uint32_t> Route::GetHops()
{
    MutexLocker locker(m_mutex);
    return m_hops;
}

bool Route::Refresh()
{
    MutexLocker locker(m_mutex);
    // Moved even when the name does not resolve, so a failing name is not
    // looked up again at every poll.
    m_lastRefresh = Time();

    sockaddr_in target{};
    if (ResolveHost(m_hostName.c_str(), &target) != 0) return false;
    const uint32_t targetAddress = ntohl(target.sin_addr.s_addr);
    const std::string targetText = DottedText(target);

    m_hops.clear();
    for (int ttl = FIRST_TRACED_TTL; ttl <= LAST_TRACED_TTL; ++ttl) {
        uint32_t reply = 0;
        if (!m_pinger->Ping(targetText.c_str(), REFRESH_ECHOES, ECHO_WAIT_SECONDS, ttl, reply)) {
            m_hops.clear();
            return false;
        }
        m_hops.push_back(reply);
        if (reply == targetAddress) return true;
    }
    return true;  // 28 hops without reaching the target: a long path, still a route
}

bool Route::FindBadRouter(uint32_t& address)
{
    MutexLocker locker(m_mutex);
    if (m_hops.empty()) return false;

    // A name that stopped resolving is not a silent router.
    sockaddr_in target{};
    if (ResolveHost(m_hostName.c_str(), &target) != 0) return false;
    const std::string targetText = DottedText(target);

    const int hopCount = static_cast<int>(m_hops.size());
    for (int ttl = 1; ttl <= hopCount; ++ttl) {
        uint32_t reply = 0;
        if (!m_pinger->Ping(targetText.c_str(), PROBE_ECHOES, ECHO_WAIT_SECONDS, ttl, reply)) {
            address = m_hops[ttl >= FIRST_TRACED_TTL ? ttl - FIRST_TRACED_TTL : 0];
            return true;
        }
    }
    return false;
}

}  // namespace Kelm
