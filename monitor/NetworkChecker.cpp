// The cached network and Internet checks. See NetworkChecker.h.
#include "monitor/NetworkChecker.h"

#include <cstdlib>

#include "net/MtPinger.h"

namespace Kelm {

namespace {

std::string ReferenceHostFromEnvironment()
{
    const char* configured = std::getenv("FARVIEW_REFERENCE_HOST");
    if (configured != nullptr && *configured != '\0') return configured;
    return NetworkChecker::REFERENCE_HOST;
}

}  // namespace

NetworkChecker::NetworkChecker() : NetworkChecker(ReferenceHostFromEnvironment())
{
}

NetworkChecker::NetworkChecker(const std::string& referenceHost)
    : m_referenceHost(referenceHost), m_pinger(new MtPinger())
{
}

NetworkChecker::~NetworkChecker() = default;

bool NetworkChecker::IsNetworkUp()
{
    MutexLocker locker(m_mutex);
    RefreshIfStale();
    return m_networkUp;
}

bool NetworkChecker::IsInternetUp()
{
    MutexLocker locker(m_mutex);
    RefreshIfStale();
    return m_internetUp;
}

void NetworkChecker::RefreshIfStale()
{
    // Strictly greater: a refresh stays good for the whole period, and the
    // first call (last check 0) always refreshes.
    if (m_checkPeriod < Time() - m_lastCheck) RefreshLocked();
}

void NetworkChecker::Refresh()
{
    MutexLocker locker(m_mutex);
    RefreshLocked();
}

void NetworkChecker::RefreshLocked()
{
    // Taken before the echo: the period counts from the start of the refresh.
    m_lastCheck = Time();
    m_networkUp = true;
    m_internetUp = false;
    uint32_t replyAddress = 0;
    if (m_pinger->Ping(m_referenceHost.c_str(), 1, 1, 0, replyAddress)) m_internetUp = true;
}

}  // namespace Kelm
