#include "vek/object/sync.h"

#include "platform/futex.h"
#include "vek/core.h"

namespace vek {

mutex::mutex() : m_state(0), m_lock_count(0), m_owner(std::thread::id()) {}

mutex::~mutex()
{
    unsigned int count = m_lock_count.load(std::memory_order_relaxed);
    if (count == 0) return;
    vek_trace("warning: destroying locked mutex");
    // Only the holder can let go of it.
    if (m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        m_lock_count.store(0, std::memory_order_relaxed);
        m_owner.store(std::thread::id(), std::memory_order_relaxed);
        let_go();
    }
}

// The lock primitives themselves are not checked: the analysis cannot see
// that the lock word is the lock.
void mutex::lock() VEK_NO_THREAD_SAFETY_ANALYSIS
{
    std::thread::id self = std::this_thread::get_id();
    // Only this thread can have stored its own id here.
    if (m_owner.load(std::memory_order_relaxed) != self) {
        int state = 0;
        if (!m_state.compare_exchange_strong(state, 1, std::memory_order_acquire, std::memory_order_relaxed))
            wait_for_lock(state);
        m_owner.store(self, std::memory_order_relaxed);
    }
    m_lock_count.store(m_lock_count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void mutex::unlock() VEK_NO_THREAD_SAFETY_ANALYSIS
{
    unsigned int count = m_lock_count.load(std::memory_order_relaxed);
    if (count == 0) return;  // not held: nothing to let go
    m_lock_count.store(count - 1, std::memory_order_relaxed);
    if (count == 1) {
        m_owner.store(std::thread::id(), std::memory_order_relaxed);
        let_go();
    }
}

// Marks the word "held, maybe waited for" and sleeps until a holder lets
// go; whoever takes the lock here keeps the mark, so its unlock wakes the
// next waiter.
void mutex::wait_for_lock(int state)
{
    if (state != 2) state = m_state.exchange(2, std::memory_order_acquire);
    while (state != 0) {
        platform::futex_wait(&m_state, 2);
        state = m_state.exchange(2, std::memory_order_acquire);
    }
}

void mutex::let_go()
{
    if (m_state.exchange(0, std::memory_order_release) == 2) platform::futex_wake_one(&m_state);
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

// Not checked: the analysis cannot tie the stored pointer to the mutex
// the constructor named.
void mutex_locker::cancel() VEK_NO_THREAD_SAFETY_ANALYSIS
{
    if (m_mutex != nullptr) m_mutex->unlock();
    m_mutex = nullptr;
}

}  // namespace vek
