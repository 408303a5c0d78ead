#include "object/thread_count.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <list>

#include "object/plain_mutex.h"
#include "platform/module.h"

namespace vek {

namespace {

using clock = std::chrono::steady_clock;

std::atomic<int> g_running_threads(0);

struct record {
    plain_mutex lock;
    const char* role;  // under the registry's lock
    char activity[64] VEK_GUARDED_BY(lock) = "";
    const void* task VEK_GUARDED_BY(lock) = nullptr;  // named at snapshot time
    clock::time_point since VEK_GUARDED_BY(lock) = clock::now();
};

struct registry {
    plain_mutex lock;
    std::list<record> records VEK_GUARDED_BY(lock);
};

// Never destroyed: threads may outlive every other static.
registry& the_registry()
{
    static registry* r = new registry();
    return *r;
}

thread_local std::list<record>::iterator t_entry;  // for the erase
thread_local record* t_record = nullptr;

}  // namespace

void thread_count_add()
{
    g_running_threads.fetch_add(1, std::memory_order_relaxed);
}

void thread_count_sub()
{
    g_running_threads.fetch_sub(1, std::memory_order_acq_rel);
}

int thread_count_get()
{
    return g_running_threads.load(std::memory_order_acquire);
}

void thread_register(const char* role)
{
    if (t_record != nullptr) return;
    registry& r = the_registry();
    plain_lock hold(r.lock);
    try {
        t_entry = r.records.emplace(r.records.end());
    } catch (...) {
        return;  // out of memory: the thread runs unlisted
    }
    t_record = &*t_entry;
    t_record->role = role;
}

void thread_unregister()
{
    if (t_record == nullptr) return;
    registry& r = the_registry();
    plain_lock hold(r.lock);
    r.records.erase(t_entry);
    t_record = nullptr;
}

void thread_set_role(const char* role)
{
    if (t_record == nullptr) return;
    plain_lock hold(the_registry().lock);  // the snapshot reads the role under it
    t_record->role = role;
}

void thread_set_activity(const char* what)
{
    if (t_record == nullptr) return;
    plain_lock hold(t_record->lock);
    std::snprintf(t_record->activity, sizeof t_record->activity, "%s", what != nullptr ? what : "");
    t_record->task = nullptr;
    t_record->since = clock::now();
}

void thread_set_task(const void* task)
{
    if (t_record == nullptr) return;
    plain_lock hold(t_record->lock);
    t_record->activity[0] = 0;
    t_record->task = task;
    t_record->since = clock::now();
}

std::vector<thread_view> thread_snapshot()
{
    std::vector<thread_view> out;
    registry& r = the_registry();
    const clock::time_point now = clock::now();
    plain_lock hold(r.lock);
    for (record& rec : r.records) {
        plain_lock own(rec.lock);
        out.push_back({rec.role, rec.activity, std::chrono::duration<double>(now - rec.since).count()});
        if (rec.task != nullptr) out.back().activity = "task " + platform::code_name(rec.task);
    }
    return out;
}

}  // namespace vek
