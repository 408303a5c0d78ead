// The core: the process-wide registry of services, start-up and shut-down,
// and the logging and tracing facilities.
//
// A host calls vek_initialize, which creates the core; services are
// registered under a service-type name and found by it; vek_terminate
// releases the services in ascending order of their names and takes the
// core down.
//
// The process environment is the framework's configuration store: the
// configuration file and environment files write into it, and the
// environment reloader reads changed environment files again once a second.
//
// Thread safety: every function here and every i_core operation is safe for
// concurrent use, except that vek_initialize and vek_terminate are called by
// the host once each, and the facility functions are not to be called from
// two threads at once. env_config_reloader is safe for concurrent use.
#ifndef VEK_CORE_H
#define VEK_CORE_H

#include <atomic>

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/collection.h"
#include "vek/object/string.h"

namespace vek {

class i_stream;
class i_script_engine;

class VEK_API i_core : public virtual i_object {
public:
    // Adds a reference to `svc` and stores it under `svc_type`. False for a
    // null service, a null or empty name, or a name already taken (the
    // first service stays).
    virtual bool register_service(i_object* svc, const char* svc_type) = 0;
    // Removes the entry and releases the stored object.
    virtual bool unregister_service(const char* svc_type) = 0;
    // New reference: caller releases. The service's i_object part, or null.
    virtual i_object* get_service(const char* svc_type) = 0;
    // New reference: caller releases. A snapshot of every service, in
    // ascending order of service-type name.
    virtual i_object_col* get_services() = 0;
    // Loads a module (once per path) and runs its entry. Candidates: the
    // path made absolute, then, for a relative path, each element of
    // "PATH", the running program's "../lib" and each element of
    // "LD_LIBRARY_PATH"; ".so" is appended when no file exists as named.
    // A failure's reason: vek_get_last_error. Delivers
    // "VEK_CORE_EVT_LOAD_LIBRARY" before and "VEK_CORE_EVT_POST_LOAD_LIBRARY"
    // after the module's entry, in the calling thread. The module handle, or
    // null.
    virtual void* load_library(const char* library_path) = 0;
    // New reference: caller releases. The loaded libraries, in load order.
    virtual i_object_col* get_libraries() = 0;

protected:
    ~i_core() = default;
};

// A loaded module, as listed by i_core::get_libraries. Its name (from
// i_named_object) is the module's vek_library_name(), "" without one.
class VEK_API i_vek_library : public virtual i_named_object {
public:
    // The path the module was loaded from, as tried (absolute, with any
    // added ".so"). Owned by the object.
    virtual const char* get_path() = 0;
    // The module's vek_library_version(), "" without one. Owned by the
    // object.
    virtual const char* get_version() = 0;
    // The platform module handle.
    virtual void* get_handle() = 0;

protected:
    ~i_vek_library() = default;
};

// The watch list of environment files, registered as the service
// "env_config_reloader" by the first successful vek_load_environment. On
// every "VEK_CORE_EVT_BG_TASK" (a pool thread, once a second) it compares
// each file's stamp (modification time to the nanosecond, size, device and
// inode) with the one it keeps; a changed file is traced as "Reloading
// environment configuration file '%s'", read again, and announced by a
// queued "VEK_CORE_EVT_ENV_UPDATED" (identifier 0, no object). A changed
// file whose last line has no line end yet is held back (traced once) until
// it has stayed unchanged for a whole second. The compare-and-store of a
// stamp is done under the list's
// lock, so overlapping ticks reload one change once. A file that
// disappears stays listed and is read again when it comes back changed;
// files are never removed. Answers "env_config_reloader".
class VEK_API env_config_reloader : public object {
public:
    // Installs the tick handler (with object identifier 0).
    env_config_reloader();
    // Uninstalls the handler and waits for a check under way to end.
    ~env_config_reloader() override;
    // Watches the file at `path` made absolute, once per absolute path. An
    // unresolvable path or a missing file is ignored.
    virtual void add_file(const char* path);

    bool get_interface(const char* iface_name, void** pp_obj) override;

private:
    bool on_bg_task(i_event* e);
    void check_file(i_named_string* entry);

    // named_string items: name the absolute path, value the last seen
    // stamp as text. REQUIRES: m_files locked to read or change a value.
    object_col* m_files;
    std::atomic<int> m_checks;  // tick handlers running
};

}  // namespace vek

// The core, or null before vek_initialize and after vek_terminate.
// No reference added (the core does not count references).
VEK_API vek::i_core* vek_core();
// Creates the core and the first group of services. False when a core
// exists already, or when "VEK_ROOT_PATH" is unset and the current
// directory cannot be read.
VEK_API bool vek_initialize();
// Releases the services, stops the library's threads, deletes the core and
// closes the log and trace files.
VEK_API void vek_terminate();
VEK_API bool vek_is_running();
// Process-wide identifiers 1, 2, 3, ... without repetition.
VEK_API long long vek_get_next_id();
VEK_API unsigned long vek_get_thread_id();
// The core's clock: whole seconds since 1970; 0 without a core.
VEK_API unsigned int vek_get_curr_time();
// Adds `stream` to the streams the core watches (the core adds a reference).
VEK_API void vek_register_stream(vek::i_stream* stream);
// The temporary-files directory chosen by vek_initialize; "" when none.
// Owned by the library.
VEK_API const char* vek_temp_path();
// Calls obj->release() unless obj is null.
VEK_API void vek_release(vek::i_object* obj);
VEK_API vek::i_core* vek_cast_i_core(vek::i_object* obj);
VEK_API vek::i_vek_library* vek_cast_i_vek_library(vek::i_object* obj);
// True when a loaded library carries exactly the name `lib_name`.
VEK_API bool vek_library_loaded(const char* lib_name);
// Reads an XML configuration file (its name may hold ${NAME} references):
// sets the environment variables of its "variables/variable" elements in
// document order, then loads the "libraries/library" elements, highest
// "priority" first. True when the file was read and every library that
// had to load did.
VEK_API bool vek_load_config(const char* file_path);

// Reads an environment file of NAME=value lines into the process
// environment and puts it under watch (see env_config_reloader). Lines end
// at any run of CR and LF; '#' starts a comment anywhere; the name ends at
// the first '='; a name whose last character is '^' (before trimming) sets
// the variable only when it is unset; name and value are trimmed and
// ${NAME} references in the value are replaced; lines without '=' are
// skipped, and so are lines with an empty name or a NUL byte, each with a
// trace line naming the file and the line. False for a null path or an
// unreadable file (which is then not watched).
VEK_API bool vek_load_environment(const char* path);
// No reference added.
VEK_API vek::env_config_reloader* vek_cast_env_config_reloader(vek::i_object* obj);

// Application start. Plug-ins and sites are directories holding a
// "start.tcl"; a package of kind k ("plugin" or "site") named n is looked
// for as "<root>/n/start.tcl" under each root of the ';'-separated list in
// "VEK_<K>S_ROOT" (default "${VEK_ROOT_PATH}/<k>s"; the list is made
// absolute as one text). Only the first root holding the package is tried.
// Before its start script runs in the engine, the variables k_name, k_root
// (root/n), k_error ("") and k_status (0) are set; the script succeeds by
// setting k_status to a non-zero integer and reports a failure in k_error.
// Missing packages and engines are traced, failing start scripts logged at
// level 0 as "vek_load_<k>('<n>'). Error loading <k>. <text>".
//
// Starts one package of kind `kind` in `engine` (no reference taken).
// REQUIRES: `engine` is the calling thread's engine, or null (which fails).
VEK_API bool vek_load_resource(const char* name, const char* kind, vek::i_script_engine* engine);
// The start script vek_load_resource would run for package `name` of
// `kind`, found as above; runs nothing. Heap text: caller frees with
// free(). Null when there is none (traced; vek_get_last_error says why).
VEK_API char* vek_find_start_script(const char* name, const char* kind);
// Starts one plug-in or site in the calling thread's engine; the engine and
// the script service are released before they return.
VEK_API bool vek_load_plugin(const char* plugin_name);
VEK_API bool vek_load_site(const char* site_name);
// Loads the environment file at `env_path` (vek_load_environment), then
// starts the plug-ins named in "VEK_PLUGINS_LIST" and the sites named in
// "VEK_SITES_LIST" (','-separated, empty names skipped, names taken as
// written), in the calling thread's engine. The module "vek_http" is loaded
// before the first site. Stops at the first failure (packages started
// before it stay started); false then. The engine is released on return,
// so the variables scripts set in its namespace go with it.
VEK_API bool vek_init_app(const char* env_path);

// Why the last failing vek_load_config, i_core::load_library,
// vek_load_environment or vek_init_app on this thread failed, in one line
// without a newline (a file with its resolved path and the system's reason,
// a library with every place looked, an entry that failed, a plug-in or
// site that did not start). Meaningful right after such a call returned
// failure; "" when none has failed on this thread. Owned by the library,
// per thread: valid until this thread's next call of one of them.
VEK_API const char* vek_get_last_error();
// The file i_core::load_library would try first for `library_path`: the
// first place in its search order where a file exists, with ".so" added
// as it would add it. Loads nothing. Heap text: caller frees with free().
// Null when there is none; vek_get_last_error then lists every place
// looked.
VEK_API char* vek_find_library(const char* library_path);

// A background task. `run` is true when the task is to do its work, false
// when it is only to give up what `args` owns (the library is stopping, or
// no thread could be had).
typedef void (*vek_bg_task)(bool run, void* args, unsigned int size);
// Runs `task` on a pool thread with a private copy of the `size` bytes at
// `args` (freed after the task returns) and returns without waiting for it.
// Waits up to 10 seconds for a free thread when the pool is at its maximum;
// a task that cannot be placed runs at once in the calling thread with
// `run` false (and the caller's own block when no copy exists yet).
VEK_API void vek_bg_thread(vek_bg_task task, const void* args, unsigned int size);

// Names the calling library thread's role ("http worker") in the status
// snapshot and in vek_terminate's report of threads that do not end.
// `role` must stay valid while the thread runs (a literal); a thread the
// library did not make is not listed and the call does nothing.
VEK_API void vek_set_thread_role(const char* role);
// The library's threads still alive, one entry each, ';'-separated: the
// role, and what it is doing with for how long ("delivery: event
// 'APP_EVT' for 12.0 s"). Null when none is alive. Heap text: caller
// frees with free(). After vek_terminate, what kept it from ending.
VEK_API char* vek_get_thread_report();

// The module entry protocol, as this library answers it.
extern "C" {
VEK_API void vek_library_entry();
VEK_API bool vek_library_initialized();
VEK_API const char* vek_library_name();
VEK_API const char* vek_library_version();
}

// Diagnostics. Each line starts with the local time as
// "%Y/%m/%d %H:%M:%S: " and holds at most 1023 bytes with its newline.
// Writing a line uses no heap memory; lines from different threads never
// interleave.
//
// Tracing (on by default, to "stdout").
VEK_API void vek_trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Writes to the trace destination when tracing is on, and to the log file
// when `level` is at most the log level (0 by default).
VEK_API void vek_log(unsigned int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
VEK_API void vek_enable_trace(bool enable);
VEK_API void vek_set_log_level(unsigned int level);
// "stdout", "stderr", or a file path (made absolute, opened for appending).
VEK_API void vek_set_log_facility(const char* facility);
// Owned by the library: the current facility name.
VEK_API const char* vek_get_log_facility();
VEK_API void vek_set_trace_facility(const char* facility);
VEK_API const char* vek_get_trace_facility();

#endif
