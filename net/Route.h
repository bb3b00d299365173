// The traced path from this machine to one host name: the addresses that
// answered echoes sent with time-to-live 2, 3, ... 29, ending with the host
// itself when it was reached. hops[k] answered time-to-live k + 2.
//
// Every operation holds the route's mutex for its whole duration, so a page
// reading the hops waits for a refresh under way, and the route's pinger never
// runs two pings at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "concurrency/Mutex.h"
#include "concurrency/Time.h"
#include "foundation/Shareable.h"

namespace Kelm {

class MtPinger;

class Route : public Shareable {
public:
    explicit Route(const std::string& hostName);
    ~Route() override;

    bool IsValid();            // at least one hop
    TimePeriod GetAge();       // |now - last refresh|
    bool Refresh();            // true when the trace completed
    bool FindBadRouter(uint32_t& address);  // true and a hop when a probe went unanswered
    std::vector<uint32_t> GetHops();
    std::string GetHostName() const { return m_hostName; }

private:
    const std::string m_hostName;
    Mutex m_mutex;
    std::vector<uint32_t> m_hops KELM_GUARDED_BY(m_mutex);
    Time m_lastRefresh KELM_GUARDED_BY(m_mutex){0};
    SharedPtr<MtPinger> m_pinger KELM_GUARDED_BY(m_mutex);
};

}  // namespace Kelm
