// The shared pinger and its receive thread. See MtPinger.h for how replies
// find their pinger.
//
// Ping tests the reply flag before it waits as well as after: a reply that
// beats the wait (on a short path it usually does) then ends the echo at once
// instead of costing the rest of the wait, and a signal lost before the wait
// can only delay a reply, never lose it.
#include "net/MtPinger.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "foundation/Assert.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"

namespace Kelm {

namespace {

constexpr auto RETRY_PERIOD = std::chrono::minutes(1);

// Fixed for the life of the process and unlike any other process's (a pid
// would do, but two containers sharing a network can both be pid 1).
uint32_t ProcessMarker()
{
    static const uint32_t s_marker = [] {
        uint32_t value = 0;
        while (value == 0) {
            if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
                value = static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(time(nullptr));
            }
        }
        return value;
    }();
    return s_marker;
}

std::atomic<uint32_t> s_nextToken{1};

// A pinger's socket is only written: it gets no ICMP queued at all, so the
// kernel does not keep a copy of every reply for it too.
void BlockIncoming(int descriptor)
{
    icmp_filter filter{};
    filter.data = ~0u;
    setsockopt(descriptor, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

}  // namespace

MtPinger::MtPinger() = default;

MtPinger::~MtPinger()
{
    if (m_socket >= 0) close(m_socket);
}

EchoMarker MtPinger::BeginEcho(uint32_t target)
{
    m_target = target;
    m_marker.process = ProcessMarker();
    m_marker.token = s_nextToken.fetch_add(1, std::memory_order_relaxed);
    return m_marker;
}

bool MtPinger::IsReplyToCurrentEcho(const IcmpMessage& message) const
{
    if (message.hasMarker) return message.marker == m_marker;
    return message.type == ICMP_TIME_EXCEEDED_TYPE && message.quotedDestination == m_target;
}

void MtPinger::SetReply(uint32_t address)
{
    {
        MutexLocker locker(m_replyMutex);
        m_replyAddress = address;
        m_gotReply = true;
    }
    m_gate.Signal();
}

void MtPinger::ClearReply()
{
    MutexLocker locker(m_replyMutex);
    m_replyAddress = 0;
    m_gotReply = false;
}

bool MtPinger::GotReply()
{
    MutexLocker locker(m_replyMutex);
    return m_gotReply;
}

uint32_t MtPinger::GetReplyAddress()
{
    MutexLocker locker(m_replyMutex);
    return m_replyAddress;
}

bool MtPinger::Ping(const char* host, int count, int waitSeconds, int ttl, uint32_t& replyAddress)
{
    if (host == nullptr || count <= 0 || waitSeconds <= 0) {
        Log("Invalid arguments to MtPinger::Ping\n");
        return false;
    }

    sockaddr_in address{};
    int error = ResolveHost(host, &address);
    if (error != 0) {
        LogF("Unable to lookup host address '%s'.  UNIX Error: %d\n", host, error);
        return false;
    }

    if (m_socket < 0) {
        error = CreateIcmpSocket(&m_socket);
        Log("Created socket: " + ToString(m_socket) + "\n");
        if (error != 0) {
            LogF("Unable to create socket. UNIX Error: %d", error);
            m_socket = -1;
            return false;
        }
        BlockIncoming(m_socket);
    }

    // The waiters table takes a counted reference to this pinger; without an
    // owner's reference, its release at RemoveWaiter would delete us.
    KELM_ASSERT(GetRefCount() > 0);
    MtPingReceiveThread* receiver = GetReceiveThread();
    EchoMarker marker = BeginEcho(ntohl(address.sin_addr.s_addr));
    int id = receiver->AddWaiter(this);

    for (int echo = 0; echo < count; ++echo) {
        ClearReply();
        if (SendEchoRequest(&address, 0, m_socket, ttl, id, marker) != 0) {
            Log("Failed to create/send packet.\n");
            close(m_socket);
            m_socket = -1;
            receiver->RemoveWaiter(id);
            return false;
        }
        if (!GotReply()) m_gate.WaitFor(waitSeconds);
        if (GotReply()) break;
    }

    // Once out of the table no further reply can be set: the flags are final.
    receiver->RemoveWaiter(id);
    MutexLocker locker(m_replyMutex);
    replyAddress = m_replyAddress;
    return m_gotReply;
}

int MtPinger::MtPingReceiveThread::s_waiterId = 0;

MtPinger::MtPingReceiveThread::~MtPingReceiveThread()
{
    if (m_socket >= 0) close(m_socket);
}

int MtPinger::MtPingReceiveThread::AddWaiter(const SharedPtr<MtPinger>& pinger)
{
    MutexLocker locker(m_mutex);
    if (s_waiterId == 0) s_waiterId = 1;
    m_waiters[s_waiterId] = pinger;
    int id = s_waiterId;
    s_waiterId++;
    KELM_ASSERT(s_waiterId <= MAX_WAITERS);
    if (id == MAX_WAITERS - 1) s_waiterId = 1;
    KELM_ASSERT(id < MAX_WAITERS);
    KELM_ASSERT(id != 0);
    return id;
}

void MtPinger::MtPingReceiveThread::RemoveWaiter(int id)
{
    KELM_ASSERT(id < MAX_WAITERS);
    KELM_ASSERT(id != 0);
    // Dropped after the lock is given up: the owner still holds the pinger,
    // but a destructor must never run under the table's lock.
    SharedPtr<MtPinger> leaving;
    MutexLocker locker(m_mutex);
    SharedPtr<MtPinger>& entry = m_waiters[id];
    leaving = std::move(entry);
    entry = nullptr;
}

bool MtPinger::MtPingReceiveThread::Deliver(const IcmpMessage& message, uint32_t sender)
{
    if (!message.isReply) return false;
    MutexLocker locker(m_mutex);
    auto found = m_waiters.find(message.identifier);
    if (found == m_waiters.end() || found->second.IsNull()) return false;
    if (!found->second->IsReplyToCurrentEcho(message)) return false;
    found->second->SetReply(sender);
    return true;
}

bool MtPinger::MtPingReceiveThread::OpenSocket()
{
    int error = CreateIcmpSocket(&m_socket);
    int systemError = errno;
    m_openFailed = error != 0;
    if (error == 0) return true;

    m_socket = -1;
    // CreateIcmpSocket reports a failed socket() as 1 and leaves errno.
    int cause = error == 1 ? systemError : error;
    char text[128];
    const char* description = strerror_r(cause, text, sizeof text);
    Log(std::string("MT PINGER RECV: Unable to open a raw ICMP socket (") + description +
        "); it needs root or the CAP_NET_RAW capability. Trying again in a minute.\n");
    return false;
}

void MtPinger::MtPingReceiveThread::WaitBeforeRetry()
{
    // A timed wait, not a spin: nothing signals it, it just passes a minute.
    auto deadline = std::chrono::steady_clock::now() + RETRY_PERIOD;
    std::unique_lock<std::mutex> lock(m_retryMutex);
    while (!IsStopped() && m_retry.wait_until(lock, deadline) != std::cv_status::timeout) {
    }
}

void MtPinger::MtPingReceiveThread::Work()
{
    while (!IsStopped()) {
        if (m_socket < 0) {
            if (m_openFailed) WaitBeforeRetry();
            if (!OpenSocket()) continue;
        }
        IcmpMessage message;
        sockaddr_in sender{};
        // Each receive waits at most the socket's 1-second time-out.
        int error = ReceiveIcmpMessage(m_socket, &message, &sender);
        if (message.isReply) {
            Deliver(message, ntohl(sender.sin_addr.s_addr));
        } else if (error != 0) {
            Log("MT PINGER RECV: Error waiting for response.\n");
        }
    }
}

MtPinger::MtPingReceiveThread* GetReceiveThread()
{
    // Never destroyed: pingers on detached threads may use it while the
    // process exits.
    static SharedPtr<MtPinger::MtPingReceiveThread>* s_instance =
        new SharedPtr<MtPinger::MtPingReceiveThread>(new MtPinger::MtPingReceiveThread());
    return s_instance->Get();
}

void StartReceiveThread()
{
    static std::atomic<bool> s_started{false};
    if (s_started.exchange(true)) return;
    // The socket is opened here, on the starting thread, so replies are
    // queued for the receive loop from the moment this returns, however late
    // the new thread gets going.
    MtPinger::MtPingReceiveThread* thread = GetReceiveThread();
    thread->OpenSocket();
    Start(thread);
}

}  // namespace Kelm
