#include "events/delivery_queue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <new>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/process_state.h"
#include "object/plain_mutex.h"
#include "object/thread_count.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "vek/core.h"

namespace vek {

namespace {

using steady = std::chrono::steady_clock;

// How long every delivery thread must have been in its current delivery,
// with events waiting, before another thread is added.
const steady::duration k_stall = std::chrono::milliseconds(5);
// How long a thread beyond the standing set stays without work.
const steady::duration k_extra_idle = std::chrono::seconds(10);
// Idle threads look at the running flag at least this often.
const std::chrono::milliseconds k_idle_wait(100);

unsigned int standing_threads()
{
    unsigned int cores = std::thread::hardware_concurrency();
    return 2 * std::max(cores, 1u);
}

struct worker {
    std::condition_variable wake;
    bool woken = false;
};

struct queued_event {
    i_event* e;
    steady::time_point at;
    unsigned int source;
};

struct source_count {
    unsigned long long waiting = 0;
    unsigned long long dropped = 0;
    unsigned long long untraced = 0;  // dropped since the last trace line
};

void count_thread_out(void*)
{
    thread_count_sub();
}

}  // namespace

struct delivery_queue::shared {
    explicit shared(deliver_function d) : deliver(d), standing(standing_threads()) {}

    // Starts one more delivery thread; the lock is dropped while it is
    // created. False when none could be made.
    bool spawn() VEK_REQUIRES(lock);
    // True when a thread in a delivery is on or waiting for a CPU; the
    // lock is dropped while their states are read.
    bool any_runnable() VEK_REQUIRES(lock);
    // Wakes the idle thread that waited last, if any.
    bool wake_one() VEK_REQUIRES(lock);
    // True when `source` may queue one more event; otherwise counts the
    // drop and fills `trace` when a line is due.
    bool admit(unsigned int source, source_count* trace) VEK_REQUIRES(lock);
    void taken(const queued_event& q) VEK_REQUIRES(lock);
    void serve() VEK_EXCLUDES(lock);

    const deliver_function deliver;
    const unsigned int standing;
    std::shared_ptr<shared> self;  // lent to each thread it starts

    plain_mutex lock;
    std::deque<queued_event> queue VEK_GUARDED_BY(lock);
    std::vector<worker*> idle VEK_GUARDED_BY(lock);  // waiting threads, the latest last
    std::condition_variable gone;                    // a thread ended
    std::condition_variable stalled;                 // the watcher may have work
    unsigned int live VEK_GUARDED_BY(lock) = 0;
    unsigned int busy VEK_GUARDED_BY(lock) = 0;
    // Kernel ids of the threads in a delivery.
    std::vector<unsigned long> busy_ids VEK_GUARDED_BY(lock);
    steady::time_point last_start VEK_GUARDED_BY(lock);  // the latest start of any delivery
    bool watching VEK_GUARDED_BY(lock) = false;          // the watcher is timing a stall
    bool stop VEK_GUARDED_BY(lock) = false;
    unsigned int per_source VEK_GUARDED_BY(lock) = 1024;
    unsigned int all_sources VEK_GUARDED_BY(lock) = 4096;
    std::unordered_map<unsigned int, source_count> sources VEK_GUARDED_BY(lock);
    unsigned long long sourced VEK_GUARDED_BY(lock) = 0;  // waiting events that have a source
    unsigned long long dropped VEK_GUARDED_BY(lock) = 0;
    unsigned int traced_at VEK_GUARDED_BY(lock) = 0;  // second of the last drop trace
};

namespace {

thread_local delivery_queue::shared* t_serving = nullptr;

void delivery_thread(void* arg)
{
    {
        std::shared_ptr<delivery_queue::shared> s(
            std::move(*static_cast<std::shared_ptr<delivery_queue::shared>*>(arg)));
        delete static_cast<std::shared_ptr<delivery_queue::shared>*>(arg);
        platform::on_thread_exit(count_thread_out, nullptr);
        thread_register("delivery");
        t_serving = s.get();
        s->serve();
        t_serving = nullptr;
    }
    thread_unregister();
    platform::exit_thread();
}

}  // namespace

// The caller's scope holder still counts the lock as held: it is taken
// again before returning.
bool delivery_queue::shared::spawn()
{
    if (stop || !library_entered() || !vek_is_running()) return false;
    ++live;
    lock.unlock();
    thread_count_add();
    auto* arg = new (std::nothrow) std::shared_ptr<shared>(self);
    bool started = arg != nullptr && platform::create_thread(delivery_thread, arg);
    if (!started) {
        delete arg;
        thread_count_sub();
    }
    lock.lock();
    if (!started) {
        --live;
        gone.notify_all();
    }
    return started;
}

bool delivery_queue::shared::any_runnable()
{
    std::vector<unsigned long> ids(busy_ids);
    lock.unlock();
    bool runnable = std::any_of(ids.begin(), ids.end(), platform::thread_is_runnable);
    lock.lock();
    return runnable;
}

bool delivery_queue::shared::wake_one()
{
    if (idle.empty()) return false;
    worker* w = idle.back();
    idle.pop_back();
    w->woken = true;
    // Under the lock: once it is dropped the thread may end.
    w->wake.notify_one();
    return true;
}

bool delivery_queue::shared::admit(unsigned int source, source_count* trace)
{
    source_count& c = sources[source];
    if (c.waiting < per_source && sourced < all_sources) return true;
    ++c.dropped;
    ++c.untraced;
    ++dropped;
    unsigned int now = platform::now_seconds();
    if (now != traced_at) {
        traced_at = now;
        *trace = c;
        c.untraced = 0;
    }
    return false;
}

void delivery_queue::shared::taken(const queued_event& q)
{
    if (q.source == 0) return;
    auto it = sources.find(q.source);
    if (it != sources.end()) --it->second.waiting;
    --sourced;
}

void delivery_queue::shared::serve()
{
    worker me;
    plain_lock held(lock);
    steady::time_point idle_since = steady::now();
    while (!stop && vek_is_running()) {
        if (!queue.empty()) {
            queued_event q = queue.front();
            queue.pop_front();
            taken(q);
            ++busy;
            busy_ids.push_back(platform::thread_id());
            last_start = steady::now();
            held.unlock();
            if (vek_is_running()) deliver(q.e);
            q.e->release();
            held.lock();
            --busy;
            busy_ids.erase(std::find(busy_ids.begin(), busy_ids.end(), platform::thread_id()));
            idle_since = steady::now();
            continue;
        }
        if (live > standing && steady::now() - idle_since > k_extra_idle) break;
        me.woken = false;
        idle.push_back(&me);
        me.wake.wait_for(held.native(), k_idle_wait, [&]() VEK_REQUIRES(lock) { return me.woken || stop; });
        if (!me.woken) idle.erase(std::find(idle.begin(), idle.end(), &me));
    }
    --live;
    gone.notify_all();
}

delivery_queue::delivery_queue(deliver_function deliver) : m_shared(std::make_shared<shared>(deliver))
{
    m_shared->self = m_shared;
}

delivery_queue::~delivery_queue()
{
    stop(0);
    m_shared->self.reset();
}

void delivery_queue::set_limits(unsigned int per_source, unsigned int all_sources)
{
    plain_lock held(m_shared->lock);
    m_shared->per_source = per_source;
    m_shared->all_sources = all_sources;
}

bool delivery_queue::push(i_event* e, unsigned int source)
{
    shared& s = *m_shared;
    plain_lock held(s.lock);
    if (source != 0) {
        source_count trace;
        if (!s.admit(source, &trace)) {
            held.unlock();
            if (trace.untraced != 0) {
                vek_trace("event_proc: backlog full, dropped %llu event(s) from %s port %u (%llu in all)",
                          trace.untraced, (source & 0x10000u) != 0 ? "UDP" : "TCP", source & 0xffffu, trace.dropped);
            }
            return false;
        }
    }
    s.queue.push_back(queued_event{e, steady::now(), source});
    if (source != 0) {
        ++s.sources[source].waiting;
        ++s.sourced;
    }
    if (s.wake_one()) return true;
    if (s.live < s.standing && s.spawn()) return true;
    if (!s.watching) s.stalled.notify_one();
    return true;
}

void delivery_queue::watch(std::chrono::milliseconds wait)
{
    shared& s = *m_shared;
    steady::time_point deadline = steady::now() + wait;
    plain_lock held(s.lock);
    auto stalled = [&s]() VEK_REQUIRES(s.lock) { return !s.queue.empty() && s.idle.empty(); };
    s.stalled.wait_until(held.native(), deadline, [&]() VEK_REQUIRES(s.lock) { return s.stop || stalled(); });
    s.watching = true;
    while (!s.stop && stalled() && vek_is_running()) {
        steady::time_point now = steady::now();
        if (now >= deadline) break;
        steady::time_point due = s.last_start + k_stall;
        bool under = s.live < s.standing;
        bool room = under || thread_count_get() < max_thread_count();
        if (room && !under && now >= due && s.any_runnable()) {
            // A thread still works on a CPU: another would only compete
            // with it. Look again after another stall's time.
            s.last_start = now;
        } else if (room && (under || now >= due)) {
            if (!s.spawn()) break;
            // Give the new thread time to take an event before judging again.
            s.last_start = steady::now();
        } else {
            // At the thread limit only a returning handler can help.
            s.stalled.wait_until(held.native(), room ? std::min(due, deadline) : deadline);
        }
    }
    s.watching = false;
}

void delivery_queue::stop(unsigned int seconds)
{
    shared& s = *m_shared;
    std::deque<queued_event> left;
    {
        plain_lock held(s.lock);
        s.stop = true;
        while (s.wake_one()) {
        }
        s.stalled.notify_all();
        unsigned int own = t_serving == &s ? 1 : 0;
        steady::time_point deadline = steady::now() + std::chrono::seconds(seconds);
        s.gone.wait_until(held.native(), deadline, [&]() VEK_REQUIRES(s.lock) { return s.live <= own; });
        left.swap(s.queue);
    }
    for (const queued_event& q : left) q.e->release();
}

event_backlog delivery_queue::backlog()
{
    shared& s = *m_shared;
    event_backlog b;
    plain_lock held(s.lock);
    b.queued = s.queue.size();
    if (!s.queue.empty()) {
        auto age = std::chrono::duration_cast<std::chrono::microseconds>(steady::now() - s.queue.front().at);
        b.oldest_us = static_cast<unsigned long long>(age.count());
    }
    b.busy = s.busy;
    b.idle = static_cast<unsigned int>(s.idle.size());
    b.dropped = s.dropped;
    return b;
}

}  // namespace vek
