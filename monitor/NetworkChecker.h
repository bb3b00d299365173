// Is this side of the network up, and can the Internet be reached at all?
// The fault diagnosis of a failed poll asks before it blames anything
// farther away. Both answers are cached flags, redone at most once per check
// period however many poll threads ask at once: the first caller past the
// period refreshes while holding the checker's mutex, the others queue on it
// and then find fresh flags.
//
// The Internet flag is one echo to a well-known public host, REFERENCE_HOST,
// or to $FARVIEW_REFERENCE_HOST when that is set (tests and closed networks).
// The local network is counted as up after every refresh; nothing probes it.
//
//     if (!Singleton<NetworkChecker>::Instance()->IsInternetUp()) ...   // the process's one checker
#pragma once

#include <string>

#include "concurrency/Mutex.h"
#include "concurrency/Time.h"
#include "foundation/Shareable.h"

namespace Kelm {

class MtPinger;

class NetworkChecker {
public:
    static constexpr const char* REFERENCE_HOST = "www.google.com";
    static constexpr uint32_t CHECK_PERIOD_SECONDS = 60;

    NetworkChecker();  // the reference host from the environment, else REFERENCE_HOST
    explicit NetworkChecker(const std::string& referenceHost);
    ~NetworkChecker();
    NetworkChecker(const NetworkChecker&) = delete;
    NetworkChecker& operator=(const NetworkChecker&) = delete;

    bool IsNetworkUp();   // refreshes first when the period has run out
    bool IsInternetUp();  // refreshes first when the period has run out
    void Refresh();       // redoes both checks now

    std::string GetReferenceHost() const { return m_referenceHost; }

private:
    void RefreshIfStale() KELM_REQUIRES(m_mutex);
    void RefreshLocked() KELM_REQUIRES(m_mutex);

    const std::string m_referenceHost;
    Mutex m_mutex;
    bool m_networkUp KELM_GUARDED_BY(m_mutex) = false;
    bool m_internetUp KELM_GUARDED_BY(m_mutex) = false;
    Time m_lastCheck KELM_GUARDED_BY(m_mutex){0};
    const TimePeriod m_checkPeriod{CHECK_PERIOD_SECONDS};
    SharedPtr<MtPinger> m_pinger KELM_GUARDED_BY(m_mutex);
};

}  // namespace Kelm
