#include "script/tcl_binding/handle_index.h"

#include <atomic>
#include <mutex>

namespace vek {
namespace tcl {

void handle_index::add(const void* raw, const type_info* type, i_object* obj)
{
    key k{raw, type};
    auto it = m_handles.find(k);
    if (it != m_handles.end() && it->second == obj) return;
    // Two live objects never share a handle: the one named before is gone.
    if (it != m_handles.end()) forget(it->second);
    auto entry = m_objects.emplace(obj, k);
    try {
        m_handles.emplace(k, obj);
    } catch (...) {
        m_objects.erase(entry);
        throw;
    }
}

void handle_index::add_object(i_object* obj)
{
    if (!knows(obj)) m_objects.emplace(obj, key{nullptr, nullptr});
}

i_object* handle_index::find(const void* raw, const type_info* type) const
{
    auto it = m_handles.find(key{raw, type});
    return it != m_handles.end() ? it->second : nullptr;
}

void handle_index::forget(const i_object* obj)
{
    auto range = m_objects.equal_range(obj);
    for (auto it = range.first; it != range.second; ++it) m_handles.erase(it->second);
    m_objects.erase(range.first, range.second);
}

void handle_index::clear()
{
    m_handles.clear();
    m_objects.clear();
}

namespace {

struct shared_index {
    std::mutex lock;
    handle_index index;
    // Counts removals, each before it is made: a thread's last lookup
    // holds while the count is unchanged.
    std::atomic<unsigned long long> removals{0};
};

// Kept until the process ends: threads may still hand out handles while
// the library's statics are destroyed.
shared_index& shared()
{
    static shared_index* const s = new shared_index();
    return *s;
}

// The calling thread's last successful lookup: scripts mostly pass the
// object they passed last, and this spares them the lock.
struct last_lookup {
    const void* raw = nullptr;
    const type_info* type = nullptr;
    i_object* obj = nullptr;
    unsigned long long removals = 0;
};
thread_local last_lookup t_last;

}  // namespace

void shared_add(const void* raw, const type_info* type, i_object* obj)
{
    shared_index& s = shared();
    std::lock_guard<std::mutex> hold(s.lock);
    // Replacing another object's handle is a removal.
    i_object* before = s.index.find(raw, type);
    if (before != nullptr && before != obj) s.removals.fetch_add(1, std::memory_order_acq_rel);
    s.index.add(raw, type, obj);
}

void shared_add_object(i_object* obj)
{
    shared_index& s = shared();
    std::lock_guard<std::mutex> hold(s.lock);
    s.index.add_object(obj);
}

i_object* shared_find(const void* raw, const type_info* type)
{
    shared_index& s = shared();
    last_lookup& last = t_last;
    unsigned long long removals = s.removals.load(std::memory_order_acquire);
    if (last.obj != nullptr && last.raw == raw && last.type == type && last.removals == removals) return last.obj;
    std::lock_guard<std::mutex> hold(s.lock);
    i_object* obj = s.index.find(raw, type);
    last = {raw, type, obj, s.removals.load(std::memory_order_relaxed)};
    return obj;
}

bool shared_knows(const i_object* obj)
{
    shared_index& s = shared();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.index.knows(obj);
}

void shared_forget(const i_object* obj)
{
    shared_index& s = shared();
    std::lock_guard<std::mutex> hold(s.lock);
    s.removals.fetch_add(1, std::memory_order_acq_rel);
    s.index.forget(obj);
}

}  // namespace tcl
}  // namespace vek
