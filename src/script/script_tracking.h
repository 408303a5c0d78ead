// What scripts of one thread hold: the Tcl binding's bookkeeping for one
// interpreter.
//
// The script reference table counts the references scripts hold on
// objects; the command tables list the Tcl commands the binding made for
// each object (and each command's object), so both can be undone when the
// object's count ends or the interpreter is recycled. The pending command
// is the one made last and not yet bound to an object. The handle index
// lists the handles handed out here, so an object argument is refused
// before its object is read.
//
// One thread at a time: the owner thread (the one that built the tracking)
// uses every table and takes no lock; calls from other threads are ignored
// as documented per function. tracked() alone may be read by any thread.
#ifndef VEK_SCRIPT_SCRIPT_TRACKING_H
#define VEK_SCRIPT_SCRIPT_TRACKING_H

#include <tcl.h>

#include <atomic>
#include <cstddef>
#include <unordered_map>

#include "script/tcl_binding/handle_index.h"
#include "vek/object/base.h"
#include "vek/script/engine.h"

namespace vek {

class script_tracking {
public:
    // `owner`: the engine these tables serve, as scripts reach it. It is
    // never counted and never called, only compared. The calling thread's
    // current-tracking slot now names this object.
    explicit script_tracking(i_script_engine* owner);
    ~script_tracking();
    script_tracking(const script_tracking&) = delete;
    script_tracking& operator=(const script_tracking&) = delete;

    // The interpreter commands are deleted from when the binding's record
    // does not name one; null (before one exists) binds and deletes none.
    void attach(Tcl_Interp* interp) { m_interp = interp; }

    // Null objects, the owner, the core and calls from other threads are
    // ignored (1, or true for knows).
    int add_script_ref(i_object* obj, bool take);
    int drop_script_ref(i_object* obj, bool give_back);
    // Makes `cmd` the pending command, unless `obj` is ignored.
    void set_pending_command(i_object* obj, Tcl_Command cmd);
    // Binds the pending command to `obj` (after a cast) without counting.
    void bind_pending_cast(i_object* obj);
    bool knows(i_object* obj) const;
    // True when a script counts `obj` itself: no stand-in question asked.
    bool counts(i_object* obj) const { return m_refs.count(obj) != 0; }
    // A command of the binding is being deleted: forget its token.
    void forget_command(Tcl_Command cmd);
    // The binding handed out `raw` (the pointer the handle names) as
    // `type`; its object is `obj`. Forgotten when the object's script count
    // ends and at reset.
    void note_handle(const void* raw, const tcl::type_info* type, i_object* obj);
    // A binding made a command for `obj` (the hook's object, before any
    // stand-in is asked).
    void note_object(i_object* obj);
    // The object of a handle handed out here as exactly that type, or null:
    // answers without reading the object, so a stale, forged or relabelled
    // handle is refused safely.
    i_object* handle_object(const void* raw, const tcl::type_info* type) const { return m_handles.find(raw, type); }
    // True when `obj` may be read: ignored, counted, or handed out here.
    bool handed_out(i_object* obj) const;
    // A plain release destroyed `obj`: its handles and its script count
    // go, without a release of their own.
    void object_released(i_object* obj);

    // Deletes every bound and pending command from its interpreter, then
    // forgets everything and releases what scripts held.
    void reset();
    // Forgets every command and handle and releases what scripts held; no
    // Tcl call (the interpreter may be gone already).
    void forget_all();

    // No reference added.
    i_script_engine* owner() const { return m_owner; }
    // The objects scripts count references to; any thread may ask.
    std::size_t tracked() const { return m_tracked.load(std::memory_order_relaxed); }

    // The calling thread's tracking, or null. No reference added.
    static script_tracking* current();

private:
    bool is_owner() const;
    bool ignored(i_object* obj) const;
    void bind_pending(i_object* obj);
    void delete_command(Tcl_Command cmd);
    void drop_all_refs();

    i_script_engine* m_owner;
    const i_object* m_owner_object;
    unsigned long long m_owner_serial;
    Tcl_Interp* m_interp = nullptr;
    // The bound commands by object, and each command's object.
    std::unordered_multimap<i_object*, Tcl_Command> m_commands;
    std::unordered_map<Tcl_Command, i_object*> m_command_objects;
    std::unordered_map<i_object*, int> m_refs;
    std::atomic<std::size_t> m_tracked{0};  // m_refs.size(), for other threads
    tcl::handle_index m_handles;
    Tcl_Command m_pending = nullptr;
};

}  // namespace vek

#endif
