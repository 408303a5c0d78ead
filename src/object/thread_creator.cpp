#include <cxxabi.h>

#include <cstdlib>

#include "core/process_state.h"
#include "object/thread_count.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "vek/core.h"
#include "vek/object/sync.h"

namespace vek {

namespace {

void count_thread_out(void*)
{
    thread_count_sub();
}

// Runs on the new thread. The exit handler counts the thread out when
// exit_thread runs it, after the record is freed.
void thread_entry(void* arg)
{
    auto* info = static_cast<thread_creator::thread_info*>(arg);
    platform::on_thread_exit(count_thread_out, nullptr);
    // start_thread may delete the object (auto-delete thread); the record
    // stays ours.
    thread_register("thread");
    info->obj->start_thread(info);
    thread_unregister();
    std::free(info);
    platform::exit_thread();
}

}  // namespace

thread_creator::thread_creator() : m_threads_count(0), m_stop(false), m_auto_delete_thread(0) {}

thread_creator::~thread_creator() = default;

bool thread_creator::create_thread(thread_creator* obj, thread_function fn, void* arg)
{
    if (!library_entered()) return false;
    thread_count_add();

    mutex_locker lock(&m_lock);
    m_stop = false;
    auto* info = static_cast<thread_info*>(std::malloc(sizeof(thread_info)));
    if (info == nullptr) {
        thread_count_sub();
        return false;
    }
    info->obj = obj;
    info->fn = fn;
    info->arg = arg;
    // Counted before the thread exists, so its own decrement cannot come
    // first.
    m_threads_count.fetch_add(1);
    if (!platform::create_thread(thread_entry, info)) {
        m_threads_count.fetch_sub(1);
        std::free(info);
        thread_count_sub();
        return false;
    }
    return true;
}

void thread_creator::start_thread(thread_info* info)
{
    try {
        (info->obj->*(info->fn))(info->arg);
    } catch (abi::__forced_unwind&) {
        throw;  // thread cancellation must unwind
    } catch (...) {
        vek_trace("thread_creator: thread function ended by an exception");
    }
    // Once the count drops, the owner may destroy this object (stop_threads
    // has returned), so decide about self-deletion before that.
    bool delete_self = false;
    {
        mutex_locker lock(&m_lock);
        unsigned long auto_delete = m_auto_delete_thread.load();
        delete_self = auto_delete != 0 && auto_delete == platform::thread_id();
        m_threads_count.fetch_sub(1);
    }
    if (delete_self) {
        stop_threads(5);
        delete this;
    }
}

bool thread_creator::thread_running()
{
    return !m_stop.load(std::memory_order_relaxed) && m_auto_delete_thread.load(std::memory_order_relaxed) == 0;
}

// The deadline is counted in whole seconds of the wall clock, the clock the
// core's tick copies, so a wait ends in time even when no tick runs
// (before the library entry, or once the tick thread itself has stopped).
bool thread_creator::stop_threads(unsigned int timeout)
{
    {
        mutex_locker lock(&m_lock);
        m_stop = true;
    }
    unsigned int now = platform::now_seconds();
    unsigned int deadline = now + timeout;
    if (deadline < now) return false;
    for (;;) {
        {
            mutex_locker lock(&m_lock);
            if (m_threads_count.load() == 0) return true;
        }
        platform::sleep_ms(0);
        if (platform::now_seconds() > deadline) return false;
    }
}

void thread_creator::enable_auto_delete_thread(unsigned long thread_id)
{
    m_auto_delete_thread.store(thread_id);
}

unsigned int thread_creator::get_threads_count()
{
    return m_threads_count.load();
}

}  // namespace vek
