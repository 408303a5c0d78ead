#include "script/tcl_binding/handle_index.h"

#include "object/plain_mutex.h"

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

last_lookup g_last_lookup;

namespace {

struct shared_index {
    plain_mutex lock;
    handle_index index VEK_GUARDED_BY(lock);

    // Publishes the last lookup; readers that take no lock check `seq`.
    void set_last(const void* raw, const type_info* type, i_object* obj) VEK_REQUIRES(lock)
    {
        last_lookup& last = g_last_lookup;
        unsigned long long seq = last.seq.load(std::memory_order_relaxed);
        last.seq.store(seq + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        last.raw.store(raw, std::memory_order_relaxed);
        last.type.store(type, std::memory_order_relaxed);
        last.obj.store(obj, std::memory_order_relaxed);
        last.seq.store(seq + 2, std::memory_order_release);
    }
};

// Kept until the process ends: threads may still hand out handles while
// the library's statics are destroyed.
shared_index& shared()
{
    static shared_index* const s = new shared_index();
    return *s;
}

}  // namespace

void shared_add(const void* raw, const type_info* type, i_object* obj)
{
    shared_index& s = shared();
    plain_lock hold(s.lock);
    // Replacing another object's handle is a removal.
    i_object* before = s.index.find(raw, type);
    if (before != nullptr && before != obj) s.set_last(nullptr, nullptr, nullptr);
    s.index.add(raw, type, obj);
}

void shared_add_object(i_object* obj)
{
    shared_index& s = shared();
    plain_lock hold(s.lock);
    s.index.add_object(obj);
}

i_object* shared_find_locked(const void* raw, const type_info* type)
{
    shared_index& s = shared();
    plain_lock hold(s.lock);
    i_object* obj = s.index.find(raw, type);
    if (obj != nullptr) s.set_last(raw, type, obj);
    return obj;
}

bool shared_knows(const i_object* obj)
{
    shared_index& s = shared();
    plain_lock hold(s.lock);
    return s.index.knows(obj);
}

void shared_forget(const i_object* obj)
{
    shared_index& s = shared();
    plain_lock hold(s.lock);
    s.set_last(nullptr, nullptr, nullptr);
    s.index.forget(obj);
}

}  // namespace tcl
}  // namespace vek
