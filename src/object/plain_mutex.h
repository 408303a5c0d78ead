// A non-recursive mutex and its scope holder, both known to the lock
// annotations.
//
// plain_mutex is a std::mutex that clang's thread-safety analysis can name
// in VEK_GUARDED_BY and VEK_REQUIRES; plain_lock holds one for a scope like
// std::unique_lock, may let go and take it again, and lends the underlying
// std::unique_lock to condition variables. Both inline to the std types.
//
// Thread safety: plain_mutex: safe for concurrent use. plain_lock: one
// thread (a scope).
#ifndef VEK_OBJECT_PLAIN_MUTEX_H
#define VEK_OBJECT_PLAIN_MUTEX_H

#include <mutex>

#include "vek/object/thread_annotations.h"

namespace vek {

class VEK_CAPABILITY("mutex") plain_mutex {
public:
    void lock() VEK_ACQUIRE() { m_mutex.lock(); }
    void unlock() VEK_RELEASE() { m_mutex.unlock(); }

private:
    friend class plain_lock;
    std::mutex m_mutex;
};

class VEK_SCOPED_CAPABILITY plain_lock {
public:
    explicit plain_lock(plain_mutex& m) VEK_ACQUIRE(m) : m_lock(m.m_mutex) {}
    plain_lock(const plain_lock&) = delete;
    plain_lock& operator=(const plain_lock&) = delete;
    ~plain_lock() VEK_RELEASE() {}

    void unlock() VEK_RELEASE() { m_lock.unlock(); }
    void lock() VEK_ACQUIRE() { m_lock.lock(); }
    // For condition variable waits, which return with the lock held again.
    std::unique_lock<std::mutex>& native() { return m_lock; }

private:
    std::unique_lock<std::mutex> m_lock;
};

}  // namespace vek

#endif
