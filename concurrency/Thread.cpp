#include "concurrency/Thread.h"

#include "foundation/Log.h"
#include "foundation/Strings.h"

namespace Kelm {

namespace {

std::string IdText(uint64_t id)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(id));
    return buffer;
}

uint64_t IdOf(pthread_t handle)
{
    return static_cast<uint64_t>(handle);
}

}  // namespace

Thread::~Thread()
{
    Log("DESTROYING THREAD " + IdText(GetId()) + " COUNT IS NOW: " + ToString(ThreadRegistry::Instance().Count()) +
        "\n");
}

void* ThreadEntry(void* argument)
{
    Thread* thread = static_cast<Thread*>(argument);
    thread->Work();
    thread->AfterWork();
    // Our own id, not the member: the member was written by the starter.
    // The last reference may go here, destroying the object on this thread.
    ThreadRegistry::Instance().Remove(IdOf(pthread_self()));
    return nullptr;
}

void Start(Thread* thread)
{
    ThreadRegistry& registry = ThreadRegistry::Instance();
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);

    int count;
    pthread_t handle;
    {
        // The new thread's Remove waits on this lock, so its entry is in
        // place before it can take it out, however fast Work returns.
        MutexLocker locker(registry.GetMutex());
        if (pthread_create(&handle, &attributes, ThreadEntry, thread) != 0) {
            pthread_attr_destroy(&attributes);
            Log("FAILED TO CREATE THREAD\n");
            return;
        }
        thread->m_handle = handle;
        thread->m_id.store(IdOf(handle), std::memory_order_release);
        registry.Add(SharedPtr<Thread>(thread));
        count = registry.Count();
    }
    pthread_attr_destroy(&attributes);
    Log("STARTED THREAD " + IdText(IdOf(handle)) + "  COUNT IS NOW " + ToString(count) + "\n");
}

ThreadRegistry& ThreadRegistry::Instance()
{
    // Never destroyed: detached threads may leave the registry while the
    // process is exiting.
    static ThreadRegistry* s_registry = new ThreadRegistry();
    return *s_registry;
}

void ThreadRegistry::Add(const SharedPtr<Thread>& thread)
{
    MutexLocker locker(m_mutex);
    m_threads[thread->GetId()] = thread;
}

void ThreadRegistry::Remove(uint64_t id)
{
    MutexLocker locker(m_mutex);
    // Released before the lock (the lock is re-entrant, so the destructor's
    // Count works): whoever sees the count drop also sees the object gone.
    SharedPtr<Thread> leaving;
    auto found = m_threads.find(id);
    if (found == m_threads.end()) return;
    leaving = found->second;
    m_threads.erase(found);
}

int ThreadRegistry::Count()
{
    MutexLocker locker(m_mutex);
    return static_cast<int>(m_threads.size());
}

}  // namespace Kelm
