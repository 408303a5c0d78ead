// The core object: the service map, the loaded libraries and the watched
// streams. Exactly one exists between vek_initialize and vek_terminate; it
// does not count references.
//
// Lock: the core lock (its mutex base) serialises the changes of the service
// map. Lookups take no lock: they read an immutable copy of the map inside
// a read section (service_readers), and a change swaps in a new copy, then
// waits until no section that may still see the old one is open before it
// frees that copy or drops the map's reference to a removed service. The
// libraries and streams lists lock themselves. Services are released after
// the core lock is dropped.
#ifndef VEK_CORE_CORE_H
#define VEK_CORE_CORE_H

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "vek/core.h"
#include "vek/object.h"

namespace vek {

class vek_library;

// Read sections over data that a writer replaces: a reader counts itself in
// a slot of its own cache line (threads are spread over the slots), so
// readers on different cores write no shared memory, and never wait. A
// writer waits for the sections that may have seen the data it replaced:
// each slot has two counters, readers enter through the one the phase
// selects, and the writer flips the phase twice, each time waiting for the
// counters of the phase it left to drain. Sections nest.
class service_readers {
public:
    // Returns what leave() needs.
    unsigned int enter();
    void leave(unsigned int ticket);
    // REQUIRES: one caller at a time (the core lock held).
    void wait_for_readers();

private:
    static constexpr unsigned int k_slots = 16;
    struct alignas(64) slot {
        std::atomic<long> count[2] = {0, 0};
    };
    slot m_slots[k_slots];
    std::atomic<unsigned int> m_phase{0};
};

// The read-only copy of the service map that lookups search, in ascending
// order of name. The pointers hold no reference of their own.
struct service_table {
    std::vector<std::pair<std::string, i_object*>> entries;
    // Unique in the process: a reader may keep what it found in one copy
    // for as long as the copy it reads has the same serial.
    unsigned long long serial;

    // No reference added; null when the name is not there.
    i_object* find(const char* svc_type) const;
};

class core : public object, public mutex, public thread_creator, public virtual i_core {
public:
    // Sets the process-wide core pointer and the last tick.
    core();
    // Releases the streams and libraries lists; clears the core pointer.
    ~core() override;

    // The core is not counted: both return 1 and never destroy it.
    int addref() override;
    int release() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

    bool register_service(i_object* svc, const char* svc_type) override;
    bool unregister_service(const char* svc_type) override;
    i_object* get_service(const char* svc_type) override;
    i_object_col* get_services() override;
    void* load_library(const char* library_path) override;
    i_object_col* get_libraries() override;

    // Calls `fn` with the current copy of the service map and returns what
    // it returns. No reference is counted: every service in the copy stays
    // registered, or at least alive, until `fn` returns. `fn` must not
    // register or unregister services, nor wait for a thread that does:
    // those wait for it to return.
    template <class Fn>
    auto with_services(Fn&& fn)
    {
        struct section {
            service_readers& readers;
            unsigned int ticket;
            ~section() { readers.leave(ticket); }
        } open{m_readers, m_readers.enter()};
        return fn(*m_table.load(std::memory_order_seq_cst));
    }

    // Starts the tick thread, then the stream-watch thread, unless they run.
    void start_threads();

    // The module handles of the listed libraries, in load order.
    std::vector<void*> library_handles();

    // Empties the service map; each service gets its last release (unless
    // held elsewhere) in ascending order of its name.
    void release_services();
    // No reference added; owned by the core.
    object_col* libraries() { return m_libraries; }
    // The registered service names, in ascending order.
    std::vector<std::string> service_names();
    object_col* streams() { return m_streams; }
    unsigned int last_tick() { return m_last_tick.load(std::memory_order_relaxed); }
    void set_last_tick(unsigned int tick) { m_last_tick.store(tick, std::memory_order_relaxed); }

private:
    // Once a second of the wall clock: stores the tick and queues
    // "VEK_CORE_EVT_BG_TASK". Every 50 ms: flushes the diagnostic files.
    void tick_loop(void*);
    // Every 100 ms: gives each registered stream its background turn and
    // drops the streams that are finished or disconnected.
    void watch_loop(void*);
    // One pass over the streams list.
    void serve_streams();
    // The handle of the listed library loaded from `path`, or null.
    void* loaded_handle(const std::string& path);
    // New reference: caller releases. Lists a library object for the
    // module, or returns null when `path` is listed already.
    vek_library* list_library(void* handle, const std::string& path);

    // Makes lookups see the map as it is now and frees the copy they saw
    // before, once no lookup reads it any more.
    void publish_services() VEK_REQUIRES(this);

    std::map<std::string, i_object*> m_services VEK_GUARDED_BY(this);
    std::atomic<const service_table*> m_table;
    service_readers m_readers;
    object_col* m_libraries;
    object_col* m_streams;
    std::atomic<unsigned int> m_last_tick;
};

// The process-wide core, or null. No reference added.
core* the_core();

}  // namespace vek

#endif
