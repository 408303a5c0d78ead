// The per-thread script engine behind i_script_engine.
//
// One engine wraps one Tcl interpreter of its owner thread; only that
// thread evaluates in it. The service holds one reference; the release that
// brings the count back to 1 recycles the engine in its owner thread (a
// release or destruction in another thread makes no Tcl call: the engine
// is marked stale and its interpreter left alone).
//
// What scripts hold (references, the binding's commands, handles) is the
// engine's script_tracking, undone at recycling. It, the file cache and
// the text cache are touched by the owner thread only and take no lock.
//
// Lock order: the service lock, then init_script_mutex(). init and
// prepare_for_use run with the service lock held and take the init-script
// lock around init commands and files. The service calls apply_init_cmd
// and apply_init_file with its lock held; they take the init-script lock
// around the command or file.
#ifndef VEK_SCRIPT_SCRIPT_ENGINE_H
#define VEK_SCRIPT_SCRIPT_ENGINE_H

#include <tcl.h>

#include <atomic>
#include <map>
#include <string>
#include <unordered_map>

#include "script/script_tracking.h"
#include "vek/object.h"
#include "vek/script.h"

namespace vek {

// The process-wide lock held while init commands and files run.
mutex* init_script_mutex();

class script_engine : public object, public virtual i_script_engine {
public:
    // Owner: the calling thread, whose current-engine slot now names it.
    script_engine();
    ~script_engine() override;

    bool get_interface(const char* iface_name, void** pp_obj) override;
    int release() override;

    bool execute_text(const char* code) override;
    bool execute_file(const char* path, vek_script_file_load_function func = nullptr,
                      const void* fparam = nullptr) override;
    bool execute_code(i_script_code* code) override;
    bool register_object(i_object* obj, const char* obj_name, const char* cast_func) override;
    const char* get_output() override;
    const char* get_error() override;
    int get_error_line() override;
    void reset() override;
    void puts_impl(const char* text) override;
    i_object* get_registration_object() override;

    // Builds the interpreter, runs the init commands, the prelude and the
    // init files.
    virtual bool init(script_service* service) VEK_REQUIRES(service);
    // False for a stale idle engine.
    virtual bool prepare_for_use(script_service* service) VEK_REQUIRES(service);
    // Runs now in the owner thread; marks the engine stale in every case.
    virtual void apply_init_cmd(const char* text);
    virtual void apply_init_file(const char* path);

    bool is_owner() const;
    bool is_stale() const { return m_stale; }
    bool is_in_use() const { return m_in_use; }
    // The objects scripts count references to; any thread may ask.
    std::size_t tracked() const { return m_tracking.tracked(); }
    // The service that built the engine (null before init). No reference.
    script_service* service() const { return m_service; }
    Tcl_Interp* interp() const { return m_interp; }

    // The calling thread's engine, or null. No reference added.
    static script_engine* current();

private:
    bool eval(Tcl_Obj* obj);
    bool eval_raw(const char* text);
    Tcl_Obj* cached_text(const char* code);
    bool use_now(script_service* service) VEK_REQUIRES(service);
    void recycle();

    Tcl_Interp* m_interp;
    script_service* m_service = nullptr;
    unsigned long m_owner;
    unsigned long long m_owner_serial;
    i_object* m_registration;
    Tcl_Obj* m_reset_script;
    Tcl_Obj* m_prelude;
    std::map<std::string, script_file*> m_files;
    std::atomic<bool> m_in_use;
    std::atomic<bool> m_stale;
    string* m_output;
    // Compiled wrapped texts, so a text run again skips compiling.
    std::unordered_map<std::string, Tcl_Obj*> m_texts;
    // What this interpreter's scripts hold.
    script_tracking m_tracking;
};

// A Tcl object for `text`, wrapped in the namespace vek unless `raw`; null
// when Tcl cannot make one. The caller holds no reference yet.
Tcl_Obj* make_script_obj(const char* text, bool raw);

}  // namespace vek

#endif
