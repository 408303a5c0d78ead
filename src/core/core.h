// The core object: the service map, the loaded libraries and the watched
// streams. Exactly one exists between vek_initialize and vek_terminate; it
// does not count references.
//
// Lock: the core lock (its mutex base) guards the service map. The
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

    // REQUIRES: core lock held.
    std::map<std::string, i_object*> m_services;
    object_col* m_libraries;
    object_col* m_streams;
    std::atomic<unsigned int> m_last_tick;
};

// The process-wide core, or null. No reference added.
core* the_core();

}  // namespace vek

#endif
