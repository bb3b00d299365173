// A monitored server's state between polls. The state duration only grows
// while consecutive polls find the same status no further apart than one and
// a half intervals; anything else starts it again from 0.
#include "monitor/Server.h"

#include "foundation/Assert.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"
#include "monitor/PollInterval.h"
#include "monitor/PollSample.h"

namespace Kelm {

namespace {

uint32_t IntervalSeconds()
{
    return Singleton<PollInterval>::Instance()->GetInterval().GetSeconds();
}

}  // namespace

Server::Server(const std::string& name, int port)
    : m_stateDuration(0), m_status(PollSample::KELM_NO_DATA), m_name(name), m_port(port)
{
    // A poll must give up before the next grid time comes round.
    int timeout = static_cast<int>(IntervalSeconds()) - 3;
    if (timeout <= 0) timeout = 1;
    Log("SERVER: setting socket timeout to " + ToString(timeout) + " secs.\n");
    m_socket.SetTimeout(timeout);
}

Server::~Server()
{
    // Nobody else can hold the socket now: its poll thread held this server.
    m_socket.Close();
}

int Server::GetStatus()
{
    MutexLocker locker(m_mutex);
    return m_status;
}

TimePeriod Server::GetStateDuration()
{
    MutexLocker locker(m_mutex);
    return m_stateDuration;
}

uint32_t Server::GetRouterAddress()
{
    MutexLocker locker(m_mutex);
    return m_routerAddress;
}

void Server::SetStatus(int status, const Time& sampleTime, uint32_t routerAddress)
{
    MutexLocker locker(m_mutex);
    KELM_ASSERT(status != PollSample::KELM_NO_DATA);

    // The age counts from this moment, not from the new sample's grid time.
    TimePeriod age = Time() - m_lastSampleTime;
    double limit = 1.5 * static_cast<double>(IntervalSeconds());
    if (status != m_status || static_cast<double>(age.GetSeconds()) > limit) {
        m_stateDuration = TimePeriod(0);
    } else {
        m_stateDuration += sampleTime - m_lastSampleTime;
    }
    m_routerAddress = routerAddress;
    m_lastSampleTime = sampleTime;
    m_status = status;
}

}  // namespace Kelm
