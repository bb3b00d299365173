#include "monitor/PollOneServerThread.h"

#include "foundation/Assert.h"
#include "foundation/Log.h"
#include "monitor/PollWriter.h"
#include "monitor/ServerManager.h"

namespace Kelm {

namespace {

// A healthy route is traced again when it is older than this.
constexpr uint32_t ROUTE_MAX_AGE_SECONDS = 3599;

// The probe byte: the letter "j".
constexpr char PROBE_BYTE = 0x6A;

}  // namespace

PollOneServerThread::PollOneServerThread(const SharedPtr<Server>& server) : m_server(server) {}

PollOneServerThread::~PollOneServerThread() = default;

void PollOneServerThread::Work()
{
    // A new thread polls at once; afterwards once per wake-up.
    while (!IsStopped()) {
        PollOnce();
        if (IsStopped()) break;
        WaitForWake();
    }
}

void PollOneServerThread::WaitForWake()
{
    m_gate.Lock();
    // A wake-up that came while the poll ran is not kept: that grid time is
    // missed, and the next poll waits for the next one.
    m_woken = false;
    while (!m_woken && !IsStopped()) m_gate.WaitLocked();
    m_woken = false;
    m_gate.Unlock();
}

void PollOneServerThread::Wake()
{
    m_gate.Lock();
    m_woken = true;
    m_gate.SignalLocked();
    m_gate.Unlock();
}

void PollOneServerThread::PollOnce()
{
    const std::string name = m_server->GetName();
    ClientSocket& socket = m_server->GetSocket();

    Time before;
    bool connected = socket.Connect(name, m_server->GetPort(), true);
    if (connected) connected = socket.WriteByte(PROBE_BYTE);
    socket.Close();
    Time after;
    int connectSeconds = static_cast<int>(after.GetSeconds() - before.GetSeconds());

    Log("POLL THREAD:Connect returned after " + TimePeriod(static_cast<uint32_t>(connectSeconds)).GetText() +
        " ret val: " + (connected ? "1" : "0") + name + "\n");

    SharedPtr<Route> pRoute = Singleton<ServerManager>::Instance()->GetRoute(name);
    KELM_ASSERT(pRoute);

    int status = PollSample::KELM_GOOD;
    uint32_t routerAddress = 0;
    if (!connected) {
        Diagnose(status, routerAddress, m_server);
    } else if (!pRoute->IsValid() || pRoute->GetAge().GetSeconds() > ROUTE_MAX_AGE_SECONDS) {
        Log("POLLER: Decided to refresh route for " + name + "\n\n");
        Log(pRoute->Refresh() ? "  ..refresh was ok.\n" : "  ..refresh failed.\n");
    }

    PollSample sample;
    sample.m_time = Time(m_scheduledTime.load(std::memory_order_acquire));
    sample.m_status = status;
    sample.m_connectSeconds = connectSeconds;
    sample.m_routerAddress = routerAddress;
    m_server->SetStatus(status, sample.m_time, routerAddress);

    SharedPtr<PollWriter> writer(new PollWriterApp());
    writer->Write(m_server, sample);
    m_polls.fetch_add(1, std::memory_order_acq_rel);
}

void PollOneServerThread::Diagnose(int& status, uint32_t& routerAddress, const SharedPtr<Server>& server)
{
    SharedPtr<Route> pRoute = Singleton<ServerManager>::Instance()->GetRoute(server->GetName());
    KELM_ASSERT(pRoute);
    NetworkProbes probes;
    Kelm::Diagnose(status, routerAddress, server->GetName(), *pRoute, probes);
}

}  // namespace Kelm
