// The per-thread script engine behind i_script_engine.
//
// One engine wraps one Tcl interpreter of its owner thread; only that
// thread evaluates in it. The service holds one reference; the release that
// brings the count back to 1 recycles the engine in its owner thread (a
// release or destruction in another thread makes no Tcl call: the engine
// is marked stale and its interpreter left alone).
//
// The script reference table counts the references scripts hold on
// objects; the object command table lists the Tcl commands the binding made
// for them, so both can be undone at recycling. Both, the file cache and
// the text cache are touched by the owner thread only and take no lock.
//
// Lock order: the service lock, then init_script_mutex(). init and
// prepare_for_use run with the service lock held and take the init-script
// lock around init commands and files.
#ifndef VEK_SCRIPT_SCRIPT_ENGINE_H
#define VEK_SCRIPT_SCRIPT_ENGINE_H

#include <tcl.h>

#include <atomic>
#include <map>
#include <string>
#include <unordered_map>

#include "script/tcl_binding/handle_index.h"
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

    // REQUIRES: the service lock held. Builds the interpreter, runs the init
    // commands, the prelude and the init files.
    virtual bool init(script_service* service);
    // REQUIRES: the service lock held. False for a stale idle engine.
    virtual bool prepare_for_use(script_service* service);
    virtual void set_pending_command(i_object* obj, Tcl_Command cmd);
    // Runs now in the owner thread; marks the engine stale in every case.
    virtual void apply_init_cmd(const char* text);
    virtual void apply_init_file(const char* path);

    // Script reference tracking for the Tcl binding. Null objects, the
    // engine itself, the core and calls from other threads are ignored
    // (1, or true for knows).
    int add_script_ref(i_object* obj, bool take);
    int drop_script_ref(i_object* obj, bool give_back);
    // Binds the pending command to `obj` (after a cast) without counting.
    void bind_pending_cast(i_object* obj);
    bool knows(i_object* obj);
    // True when a script counts `obj` itself: no stand-in question asked.
    bool counts(i_object* obj) const { return m_refs.count(obj) != 0; }
    // A command of the binding is being deleted: forget its token.
    void forget_command(Tcl_Command cmd);
    // The binding handed out `raw` (the pointer the handle names) as
    // `type`; its object is `obj`. Forgotten when the object's script count
    // ends and at recycling.
    void note_handle(const void* raw, const tcl::type_info* type, i_object* obj);
    // A binding made a command for `obj` (the hook's object, before any
    // stand-in is asked).
    void note_object(i_object* obj);
    // The object of a handle this engine handed out as exactly that type,
    // or null: answers without reading the object, so a stale, forged or
    // relabelled handle is refused safely.
    i_object* handle_object(const void* raw, const tcl::type_info* type) const { return m_handles.find(raw, type); }
    // True when `obj` may be read: ignored, counted, or handed out here.
    bool handed_out(i_object* obj) const;
    // A plain release destroyed `obj`: its handles and its script count
    // go, without a release of their own.
    void object_released(i_object* obj);

    bool is_owner() const;
    bool is_stale() const { return m_stale; }
    bool is_in_use() const { return m_in_use; }
    // The objects scripts count references to; any thread may ask.
    std::size_t tracked() const { return m_tracked.load(std::memory_order_relaxed); }
    // The service that built the engine (null before init). No reference.
    script_service* service() const { return m_service; }
    Tcl_Interp* interp() const { return m_interp; }

    // The calling thread's engine, or null. No reference added.
    static script_engine* current();

private:
    bool eval(Tcl_Obj* obj);
    bool eval_raw(const char* text);
    Tcl_Obj* cached_text(const char* code);
    bool use_now(script_service* service);
    bool ignored(i_object* obj) const;
    void bind_pending(i_object* obj);
    void recycle();
    void delete_commands();
    void drop_all_refs();
    void delete_command(Tcl_Command cmd);
    void forget_handles(i_object* obj);
    void run_init_files(script_service* service);

    Tcl_Interp* m_interp;
    script_service* m_service = nullptr;
    unsigned long m_owner;
    unsigned long long m_owner_serial;
    i_object* m_registration;
    Tcl_Obj* m_reset_script;
    Tcl_Obj* m_prelude;
    std::map<std::string, script_file*> m_files;
    std::atomic<bool> m_in_use;
    // The bound commands by object, and each command's object.
    std::unordered_multimap<i_object*, Tcl_Command> m_commands;
    std::unordered_map<Tcl_Command, i_object*> m_command_objects;
    std::unordered_map<i_object*, int> m_refs;
    std::atomic<std::size_t> m_tracked{0};  // m_refs.size(), for other threads
    tcl::handle_index m_handles;
    std::atomic<bool> m_stale;
    Tcl_Command m_pending;
    string* m_output;
    // Compiled wrapped texts, so a text run again skips compiling.
    std::unordered_map<std::string, Tcl_Obj*> m_texts;
};

// A Tcl object for `text`, wrapped in the namespace vek unless `raw`; null
// when Tcl cannot make one. The caller holds no reference yet.
Tcl_Obj* make_script_obj(const char* text, bool raw);

}  // namespace vek

#endif
