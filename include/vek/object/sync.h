// Locks and worker threads.
//
// Every lock of the library is a mutex: re-entrant for its holder, with a
// count of lock calls not yet matched by unlock. thread_creator gives an
// object worker threads that run its member functions, a cooperative stop
// signal and a bounded wait for them to end. The library counts all of its
// live threads so that vek_terminate can wait for them.
//
// Thread safety:
// - mutex: safe for concurrent use (that is its job).
// - mutex_locker: one thread (a scope).
// - thread_creator: safe for concurrent use.
#ifndef VEK_OBJECT_SYNC_H
#define VEK_OBJECT_SYNC_H

#include <atomic>
#include <thread>

#include "vek/object/base.h"
#include "vek/object/thread_annotations.h"

namespace vek {

class VEK_API mutex {
public:
    mutex();
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;
    // Traces "warning: destroying locked mutex" when still held.
    virtual ~mutex();

    // Waits without limit; the holder may lock again without blocking.
    void lock() VEK_ACQUIRE();
    // REQUIRES: the calling thread holds the lock.
    void unlock() VEK_RELEASE();
    // Lock calls not yet matched by unlock.
    unsigned int lock_count();

private:
    void wait_for_lock(int state);
    void let_go();

    // A lock word plus the holding thread: re-entry by the holder only
    // counts. The word is 0 when free, 1 when held, 2 when held and a
    // thread may be waiting for it. The count and the owner are written
    // only by the holder.
    std::atomic<int> m_state;
    std::atomic<unsigned int> m_lock_count;
    std::atomic<std::thread::id> m_owner;
} VEK_CAPABILITY("mutex");

// Holds a mutex for a scope.
class VEK_API mutex_locker {
public:
    // Locks `m` unless it is null.
    explicit mutex_locker(mutex* m) VEK_ACQUIRE(m);
    mutex_locker(const mutex_locker&) = delete;
    mutex_locker& operator=(const mutex_locker&) = delete;
    virtual ~mutex_locker() VEK_RELEASE();

    // Unlocks now and forgets the mutex.
    void cancel() VEK_RELEASE();

private:
    mutex* m_mutex;
} VEK_SCOPED_CAPABILITY;

// Base class for objects that run worker threads on their own member
// functions. Each thread function must poll thread_running() and return
// once it is false; nothing interrupts a thread.
//
// Threads are Tcl threads, so Tcl thread-exit handlers run when they end.
// Lock order in create_thread: the process-wide thread lock is taken and
// dropped before this object's lock.
class VEK_API thread_creator : public virtual i_object {
public:
    typedef void (thread_creator::*thread_function)(void*);

    // The start record of one thread; allocated by create_thread, freed by
    // the thread.
    struct thread_info {
        thread_creator* obj;
        thread_function fn;
        void* arg;
    };

    thread_creator();
    thread_creator(const thread_creator&) = delete;
    thread_creator& operator=(const thread_creator&) = delete;
    virtual ~thread_creator();

    // Runs (obj->*fn)(arg) on a new thread. False when the library's entry
    // has not run yet, or when the thread cannot be created.
    bool create_thread(thread_creator* obj, thread_function fn, void* arg);
    // The body of every new thread: runs the function, then counts the
    // thread out and, for the auto-delete thread, destroys this object.
    void start_thread(thread_info* info);
    // True while the stop flag is clear and no auto-delete thread is set.
    bool thread_running();
    // Sets the stop flag and waits up to `timeout` seconds for this object's
    // threads to end. True when they all ended in time.
    bool stop_threads(unsigned int timeout);
    // When the thread `thread_id` returns, this object stops its other
    // threads (up to 5 seconds) and deletes itself. Also turns
    // thread_running() false for all threads of this object.
    void enable_auto_delete_thread(unsigned long thread_id);
    // Threads of this object whose function has not yet returned.
    unsigned int get_threads_count();

private:
    std::atomic<unsigned int> m_threads_count;
    std::atomic<bool> m_stop;
    mutex m_lock;
    std::atomic<unsigned long> m_auto_delete_thread;
};

}  // namespace vek

#endif
