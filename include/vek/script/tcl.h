// The Tcl package "vek_core": its entry points, and the script tracking
// hooks the Tcl bindings of every framework module share.
//
// The hooks work on the calling thread's script engine and do nothing (0,
// or true for the test) when the thread has none or `obj` is null. An
// object that is an i_script_object_subsitutor is replaced by the object it
// stands for; a null stand-in ends the call (0, nothing, false).
//
// Thread safety: the hooks are safe for concurrent use; each touches only
// the calling thread's engine. i_script_object_subsitutor is as safe as
// the object implementing it.
#ifndef VEK_SCRIPT_TCL_H
#define VEK_SCRIPT_TCL_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/script/engine.h"

namespace vek {

// An object that stands for another one before scripts: the script
// engine tracks the object it names instead of itself.
class VEK_API i_script_object_subsitutor : public virtual i_object {
public:
    // New reference: caller releases. The object this one stands for; null
    // when there is none.
    virtual i_object* get_object_pointer() = 0;

protected:
    ~i_script_object_subsitutor() = default;
};

}  // namespace vek

VEK_API vek::i_script_object_subsitutor* vek_cast_i_script_object_subsitutor(vek::i_object* obj);

// Makes `token` the engine's pending command until an addref or cast binds
// it to an object.
VEK_API void vek_tcl_register_object(vek::i_object* obj, Tcl_Command token);
// Binds the pending command to `obj` without counting.
VEK_API void vek_tcl_register_cast(vek::i_object* obj);
// Counts one script reference; with `take` also adds one to the object and
// returns its addref result, else 0.
VEK_API int vek_tcl_addref(vek::i_object* obj, bool take);
// Drops one script reference (with `give_back` also the object's); at zero
// the object's commands are deleted. 0, or 1 for the engine and the core.
VEK_API int vek_tcl_release(vek::i_object* obj, bool give_back);
// vek_tcl_release(obj, true).
VEK_API int vek_release_script_object(vek::i_object* obj);
// True when the engine knows the object (a script holds it).
VEK_API bool vek_tcl_test_object(vek::i_object* obj);
// The calling thread's engine when `addr` is its address (compared, never
// dereferenced), else null. No reference added.
VEK_API vek::i_script_engine* _vek_get_script_engine(long addr);

// The Tcl package "vek_core" 0.0 (Tcl `load` finds these by name). TCL_ERROR
// for a null interpreter.
extern "C" {
VEK_API int Vek_core_Init(Tcl_Interp* interp);
VEK_API int Vek_core_SafeInit(Tcl_Interp* interp);
}

#endif
