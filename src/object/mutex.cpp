#include "vek/object/sync.h"

#include "vek/core.h"

namespace vek {

mutex::mutex() : m_lock_count(0) {}

mutex::~mutex()
{
    unsigned int count = m_lock_count.load(std::memory_order_relaxed);
    if (count == 0) return;
    vek_trace("warning: destroying locked mutex");
    // Only one thread can hold the lock, so `count` is its nesting depth.
    // When that thread is this one, let go of it so it can be destroyed.
    if (m_lock.try_lock()) {
        for (unsigned int i = 0; i <= count; ++i) m_lock.unlock();
    }
}

void mutex::lock()
{
    m_lock.lock();
    m_lock_count.fetch_add(1, std::memory_order_relaxed);
}

void mutex::unlock()
{
    m_lock_count.fetch_sub(1, std::memory_order_relaxed);
    m_lock.unlock();
}

unsigned int mutex::lock_count()
{
    return m_lock_count.load(std::memory_order_relaxed);
}

mutex_locker::mutex_locker(mutex* m) : m_mutex(m)
{
    if (m_mutex != nullptr) m_mutex->lock();
}

mutex_locker::~mutex_locker()
{
    if (m_mutex != nullptr) m_mutex->unlock();
}

void mutex_locker::cancel()
{
    if (m_mutex != nullptr) m_mutex->unlock();
    m_mutex = nullptr;
}

}  // namespace vek
