// The thread pool behind vek_bg_thread.
//
// Each pool thread owns one slot. An idle slot waits in the idle queue; a
// caller takes the slot at the front (idle longest), fills it and sets
// `pending` last; the slot's thread runs the task and queues the slot again
// at the back. A thread idle for more than 300 seconds, or any idle thread
// once the library stops running, takes its slot out of the queue and
// ends.
//
// Locks: the pool lock guards the idle queue; each slot's lock guards its
// fields and is never held together with the pool lock. Tasks run with no
// lock held. Idle threads wait on their slot's condition instead of
// polling, waking at least every 100 ms to notice the running flag; a
// caller waiting for capacity at the thread limit waits on the pool's
// condition, signalled when a slot goes idle or a pool thread ends.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "core/process_state.h"
#include "object/plain_mutex.h"
#include "object/thread_count.h"
#include "platform/thread.h"
#include "vek/core.h"

namespace vek {

namespace {

const unsigned int k_idle_limit = 300;  // seconds an idle thread stays
const unsigned int k_place_wait = 10;   // seconds a caller waits for capacity
const std::chrono::milliseconds k_capacity_recheck(10);

struct slot {
    // A slot made for a new thread, with its first task pending.
    slot(vek_bg_task first, void* first_args, unsigned int first_size)
        : pending(true), last_active(vek_get_curr_time()), args(first_args), size(first_size), task(first)
    {
    }

    plain_mutex lock;
    std::condition_variable wake;
    bool pending VEK_GUARDED_BY(lock);
    unsigned int last_active VEK_GUARDED_BY(lock);
    void* args VEK_GUARDED_BY(lock);
    unsigned int size VEK_GUARDED_BY(lock);
    vek_bg_task task VEK_GUARDED_BY(lock);
};

struct pool_state {
    plain_mutex lock;
    std::deque<slot*> idle VEK_GUARDED_BY(lock);
    // Signalled when a slot joins the idle queue or a pool thread ends:
    // what a caller waiting for capacity waits for.
    std::condition_variable capacity;
};

// Never destroyed: pool threads may outlive every other static.
pool_state& pool()
{
    static pool_state* p = new pool_state();
    return *p;
}

void count_thread_out(void*)
{
    thread_count_sub();
    pool().capacity.notify_all();
}

// Copies the caller's block; null for a null block. False when out of
// memory.
bool copy_args(const void* args, unsigned int size, void** copy)
{
    *copy = nullptr;
    if (args == nullptr) return true;
    *copy = std::malloc(size != 0 ? size : 1);
    if (*copy == nullptr) return false;
    std::memcpy(*copy, args, size);
    return true;
}

// Notifies while holding the slot's lock: once it is dropped, the slot's
// thread may run the task, retire and delete the slot.
void hand_over(slot* s, vek_bg_task task, void* args, unsigned int size)
{
    plain_lock hold(s->lock);
    s->args = args;
    s->size = size;
    s->task = task;
    s->pending = true;
    s->wake.notify_one();
}

// Takes the slot out of the idle queue unless a caller took it first (and
// is about to give it a task). True when the thread may end.
bool retire(slot* s)
{
    pool_state& p = pool();
    plain_lock hold(p.lock);
    for (auto it = p.idle.begin(); it != p.idle.end(); ++it) {
        if (*it == s) {
            p.idle.erase(it);
            return true;
        }
    }
    return false;
}

// Runs the task with the slot's lock dropped; the caller's scope holder
// still counts it as held, and it is held again on return.
void run_pending(slot* s) VEK_REQUIRES(s->lock)
{
    s->last_active = vek_get_curr_time();
    s->pending = false;
    vek_bg_task task = s->task;
    void* args = s->args;
    unsigned int size = s->size;
    s->args = nullptr;
    s->lock.unlock();
    thread_set_task(reinterpret_cast<const void*>(task));
    task(vek_is_running(), args, size);
    thread_set_task(nullptr);
    std::free(args);
    s->lock.lock();
}

void pool_thread(void* arg)
{
    auto* s = static_cast<slot*>(arg);
    platform::on_thread_exit(count_thread_out, nullptr);
    thread_register("pool");
    plain_lock held(s->lock);
    for (;;) {
        if (s->pending) {
            run_pending(s);
            held.unlock();
            {
                plain_lock hold(pool().lock);
                pool().idle.push_back(s);
            }
            pool().capacity.notify_one();
            held.lock();
            continue;
        }
        bool stale = vek_get_curr_time() - s->last_active > k_idle_limit;
        if (stale || !vek_is_running()) {
            held.unlock();
            if (retire(s)) break;
            held.lock();
            continue;
        }
        s->wake.wait_for(held.native(), std::chrono::milliseconds(100));
    }
    delete s;
    thread_unregister();
    platform::exit_thread();
}

// Gives the task to a new thread. False when none could be made; the task
// has then been called with `run` false.
void start_new_thread(vek_bg_task task, const void* args, unsigned int size)
{
    void* copy = nullptr;
    slot* s = nullptr;
    if (!vek_is_running() || !copy_args(args, size, &copy) ||
        (s = new (std::nothrow) slot(task, copy, size)) == nullptr) {
        std::free(copy);
        task(false, const_cast<void*>(args), size);
        return;
    }
    thread_count_add();
    if (!platform::create_thread(pool_thread, s)) {
        thread_count_sub();
        delete s;
        task(false, copy, size);
        std::free(copy);
    }
}

}  // namespace

}  // namespace vek

void vek_bg_thread(vek_bg_task task, const void* args, unsigned int size)
{
    using namespace vek;
    if (task == nullptr) return;
    if (!library_entered() || !vek_is_running()) {
        task(false, const_cast<void*>(args), size);
        return;
    }
    unsigned int t0 = vek_get_curr_time();
    while (vek_is_running()) {
        plain_lock hold(pool().lock);
        if (!pool().idle.empty()) {
            slot* s = pool().idle.front();
            pool().idle.pop_front();
            hold.unlock();
            void* copy = nullptr;
            if (!copy_args(args, size, &copy)) {
                hold.lock();
                pool().idle.push_back(s);
                hold.unlock();
                task(false, const_cast<void*>(args), size);
                return;
            }
            hand_over(s, task, copy, size);
            return;
        }
        if (thread_count_get() < max_thread_count()) {
            hold.unlock();
            start_new_thread(task, args, size);
            return;
        }
        if (vek_get_curr_time() > t0 + k_place_wait) break;
        // Other library threads that end do not signal; the timeout notices
        // the capacity they leave.
        pool().capacity.wait_for(hold.native(), k_capacity_recheck);
    }
    task(false, const_cast<void*>(args), size);
}
