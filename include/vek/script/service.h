// The script service ("svc_script"): gives every thread its own script
// engine.
//
// An engine is one Tcl interpreter, built on the thread's first request,
// reused while the thread lives and destroyed when it ends. Init commands
// and init files added to the service run in every engine before it is
// handed out.
//
// Thread safety: i_script_service and script_service are safe for
// concurrent use.
//
// Lock order: the service lock, then the process-wide init-script lock.
#ifndef VEK_SCRIPT_SERVICE_H
#define VEK_SCRIPT_SERVICE_H

#include <map>

#include "vek/core.h"
#include "vek/events.h"
#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/collection.h"
#include "vek/object/sync.h"
#include "vek/script/engine.h"
#include "vek/status.h"

namespace vek {

class script_service;

class VEK_API i_script_service : public virtual i_object {
public:
    // New reference: caller releases. The calling thread's engine; null
    // when no interpreter could be built (the next call tries again).
    virtual i_script_engine* get_script_engine() = 0;
    // Adds a file that runs in every engine before it is handed out. The
    // calling thread's engine runs it at once; the others are rebuilt.
    virtual bool add_init_file(const char* file_path) = 0;
    // Adds Tcl text that runs globally in every new interpreter. The
    // calling thread's engine runs it at once; the others are rebuilt.
    virtual bool add_init_cmd(const char* cmd_text) = 0;

protected:
    ~i_script_service() = default;
};

// The service behind "svc_script". Answers "i_script_service",
// "i_named_object", "script_service" and "i_status_source".
//
// The service's own lock (its mutex base) guards the engine table. Engines
// run init commands and files while holding it and then the init-script
// lock.
class VEK_API script_service : public object,
                               public mutex,
                               public i_named_object_impl,
                               public virtual i_script_service,
                               public virtual i_status_source {
public:
    // Installs the handler that adds a loaded module's Tcl extension and
    // init script to every engine.
    script_service();
    // Releases the calling thread's engine; other threads' engines are left
    // to their threads' exit handlers.
    ~script_service() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;
    // <scripts>: each thread's engine, busy or idle, and the objects its
    // scripts hold.
    void add_status(i_xml_node* status) override;

    i_script_engine* get_script_engine() override;
    bool add_init_file(const char* file_path) override;
    bool add_init_cmd(const char* cmd_text) override;

    // Drops the calling thread's table entry (without releasing it) when it
    // still holds `engine`.
    virtual void forget_thread(i_script_engine* engine);

    // Owned by the service: the lists engines are built from. Read them
    // while holding the service's lock.
    i_object_col* init_files() VEK_REQUIRES(this) { return m_init_files; }
    i_object_col* init_cmds() VEK_REQUIRES(this) { return m_init_cmds; }

    bool on_library_loaded(i_event* evt);

private:
    void add_module_scripts(i_vek_library* lib, void* handle, const char* name);

    struct table_entry {
        script_engine* engine;
        unsigned long long serial;
    };
    object_col* m_init_files;
    object_col* m_init_cmds;
    std::map<unsigned long, table_entry> m_engines VEK_GUARDED_BY(this);
};

}  // namespace vek

VEK_API vek::i_script_service* vek_cast_i_script_service(vek::i_object* obj);
VEK_API vek::script_service* vek_cast_script_service(vek::i_object* obj);

#endif
