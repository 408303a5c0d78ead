// The handles the package handed out: each pointer with the type it was
// handed out as, and the object behind it.
//
// A script's handle is text, so anything can be written in its place: a
// pointer never handed out, a live pointer relabelled with another
// interface's type, or the handle of an object since released. Only an
// exact (pointer, type) pair found here is ever read; a derived handle
// still reaches its bases through the type table after the lookup.
//
// handle_index: one thread at a time (each engine keeps its own, used from
// its owner thread). The process-wide index of the threads without an
// engine (the functions below) is safe for concurrent use; its lock is
// held only around the table, never while calling out, and a lookup of
// the handle found last takes no lock at all.
#ifndef VEK_SCRIPT_TCL_BINDING_HANDLE_INDEX_H
#define VEK_SCRIPT_TCL_BINDING_HANDLE_INDEX_H

#include <atomic>
#include <cstddef>
#include <functional>
#include <unordered_map>

#include "vek/object.h"

namespace vek {
namespace tcl {

struct type_info;

class handle_index {
public:
    // `raw` handed out as `type` stands for `obj` (an object it stood for
    // before, at a reused address, is forgotten).
    void add(const void* raw, const type_info* type, i_object* obj);
    // `obj` was handed out (by another binding, through the hooks), with
    // no handle of this package's.
    void add_object(i_object* obj);
    // The object of the handle (`raw`, `type`), or null. Reads no object.
    i_object* find(const void* raw, const type_info* type) const;
    bool knows(const i_object* obj) const { return m_objects.count(obj) != 0; }
    // The object was released: every handle of it goes.
    void forget(const i_object* obj);
    void clear();

private:
    struct key {
        const void* raw;
        const type_info* type;
        bool operator==(const key& o) const { return raw == o.raw && type == o.type; }
    };
    struct key_hash {
        std::size_t operator()(const key& k) const
        {
            return std::hash<const void*>()(k.raw) ^ (std::hash<const void*>()(k.type) * 0x9e3779b97f4a7c15ull);
        }
    };
    std::unordered_map<key, i_object*, key_hash> m_handles;
    // Each object's handles; a null key for an object entered on its own.
    std::unordered_multimap<const i_object*, key> m_objects;
};

// The process-wide index, for threads without a script engine.
void shared_add(const void* raw, const type_info* type, i_object* obj);
void shared_add_object(i_object* obj);
i_object* shared_find_locked(const void* raw, const type_info* type);
bool shared_knows(const i_object* obj);
void shared_forget(const i_object* obj);

// The process-wide index's last successful lookup, read without its lock:
// scripts mostly pass the object they passed last. Written only under the
// lock, and emptied by every removal; `seq` is odd while it changes.
struct last_lookup {
    std::atomic<unsigned long long> seq{0};
    std::atomic<const void*> raw{nullptr};
    std::atomic<const type_info*> type{nullptr};
    std::atomic<i_object*> obj{nullptr};
};
extern last_lookup g_last_lookup;

// The object of the handle (`raw`, `type`) when it is the last one found,
// else null. Takes no lock.
inline i_object* shared_last(const void* raw, const type_info* type)
{
    last_lookup& last = g_last_lookup;
    unsigned long long seq = last.seq.load(std::memory_order_acquire);
    const void* r = last.raw.load(std::memory_order_relaxed);
    const type_info* t = last.type.load(std::memory_order_relaxed);
    i_object* obj = last.obj.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    bool steady = (seq & 1) == 0 && last.seq.load(std::memory_order_relaxed) == seq;
    return steady && r == raw && t == type ? obj : nullptr;
}

// The object of the handle (`raw`, `type`) in the process-wide index, or
// null. Reads no object.
inline i_object* shared_find(const void* raw, const type_info* type)
{
    i_object* obj = shared_last(raw, type);
    return obj != nullptr ? obj : shared_find_locked(raw, type);
}

}  // namespace tcl
}  // namespace vek

#endif
