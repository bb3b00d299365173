// Intrusive reference counting for every object that is shared or handed
// between threads (files, sockets, threads, servers, stores, routes,
// handlers, commands), and the lazily made process-wide instance.
//
// A new object has count 0 and belongs to nobody until the first SharedPtr
// takes it. The count is atomic: handlers and servers are copied and released
// on many threads at once. std::shared_ptr was rejected because objects hand
// out pointers to themselves (a thread passes `this` to Start) and because
// the count must live in the object.
//
//     SharedPtr<Server> server(new Server("alpha", 80));
//     SharedPtr<Server> copy = server;   // count 2
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

#include "foundation/Assert.h"

namespace Kelm {

class Shareable {
public:
    Shareable() = default;
    Shareable(const Shareable&) : m_refCount(0) {}
    Shareable& operator=(const Shareable&) { return *this; }
    virtual ~Shareable()
    {
        // Deleting an object that SharedPtrs still point at is a double free
        // waiting to happen.
        KELM_ASSERT(m_refCount.load(std::memory_order_relaxed) <= 0);
    }

    void AddRef() const { m_refCount.fetch_add(1, std::memory_order_relaxed); }

    void Release() const
    {
        int before = m_refCount.fetch_sub(1, std::memory_order_acq_rel);
        KELM_ASSERT(before > 0);
        if (before == 1) {
            delete this;
        }
    }

    int GetRefCount() const { return m_refCount.load(std::memory_order_relaxed); }

private:
    mutable std::atomic<int> m_refCount{0};
};

template <class T>
class SharedPtr {
public:
    SharedPtr() = default;
    SharedPtr(std::nullptr_t) {}
    SharedPtr(T* object) : m_object(object)
    {
        if (m_object) m_object->AddRef();
    }
    SharedPtr(const SharedPtr& other) : SharedPtr(other.m_object) {}
    template <class U>
    SharedPtr(const SharedPtr<U>& other) : SharedPtr(other.Get())
    {
    }
    SharedPtr(SharedPtr&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
    ~SharedPtr()
    {
        if (m_object) m_object->Release();
    }

    // Take the new reference before dropping the old one, so assigning a
    // pointer to itself never deletes the object.
    SharedPtr& operator=(const SharedPtr& other)
    {
        Reset(other.m_object);
        return *this;
    }
    SharedPtr& operator=(SharedPtr&& other) noexcept
    {
        if (this != &other) {
            T* old = m_object;
            m_object = other.m_object;
            other.m_object = nullptr;
            if (old) old->Release();
        }
        return *this;
    }
    SharedPtr& operator=(T* object)
    {
        Reset(object);
        return *this;
    }

    void Reset(T* object = nullptr)
    {
        if (object) object->AddRef();
        T* old = m_object;
        m_object = object;
        if (old) old->Release();
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    bool IsNull() const { return m_object == nullptr; }

    template <class U>
    bool operator==(const SharedPtr<U>& other) const
    {
        return m_object == other.Get();
    }
    bool operator==(std::nullptr_t) const { return m_object == nullptr; }

private:
    T* m_object = nullptr;
};

// The process-wide instance of T, made with its default constructor on the
// first call and never destroyed: detached threads may still use it while the
// process exits. The function-local static makes the first creation safe
// when two threads race to it.
template <class T>
class Singleton {
public:
    static T* Instance()
    {
        static T* s_instance = new T();
        return s_instance;
    }
};

}  // namespace Kelm
