// The hand-written half of the Tcl package: handles, object commands,
// argument conversion and the type table.
#ifndef VEK_SCRIPT_TCL_BINDING_RUNTIME_H
#define VEK_SCRIPT_TCL_BINDING_RUNTIME_H

#include <tcl.h>

#include <cstddef>

#include "script/tcl_binding/binding.h"

namespace vek {
namespace tcl {

// Error codes of a failed conversion, and their names in messages.
enum : int {
    err_ok = 0,
    err_type = -5,
    err_overflow = -7,
};

// ---- types (types.cpp) ----

// The type whose handle suffix is `name` (length `len`), or null.
const type_info* find_type(const char* name, std::size_t len);
// `p` of type `from` as a pointer of type `to`, or false when `from` is
// neither `to` nor derived from it.
bool convert_pointer(const type_info* from, void* p, const type_info* to, void** out);
// Publishes the type table in the interpreter's
// "swig_runtime_data_type_pointer2", unless a table is named there already.
void share_type_table(Tcl_Interp* interp);
// The type table's address as the variable holds it: 16 hex digits.
const char* packed_type_table();

// ---- handles (handles.cpp) ----

// Handle text: "_", the pointer's bytes in memory order as hex, the type
// name; "NULL" for null. Writes at most handle_size bytes with the NUL.
constexpr std::size_t handle_size = 96;
void make_handle(const void* ptr, const type_info& type, char* out);
// Parses a handle (not "NULL"); false when `text` is not one.
bool parse_handle(const char* text, std::size_t len, void** ptr, const type_info** type);

// An object command's record. The command never owns the object.
struct instance {
    char handle[handle_size];
    void* ptr;
    const type_info* type;
    Tcl_Command token;
    Tcl_Interp* interp;  // the one the command lives in
};

int object_cmd(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
// Creates the object command `name` for `ptr` (replacing any command of
// that name) and returns its token.
Tcl_Command create_object_command(Tcl_Interp* interp, const char* name, void* ptr, const type_info& type);
// The interpreter an object command of this package lives in; null for
// other commands.
Tcl_Interp* interp_of(Tcl_Command cmd);

// `ptr` was handed out to a script as `type`: entered in the calling
// thread's engine, or without one in the process-wide index.
void note_handed_out(void* ptr, const type_info& type, i_object* obj);
// Sets the result to the handle of `ptr`, making its object command when
// there is none, and applies the command's result hook.
void set_object_result(Tcl_Interp* interp, void* ptr, const type_info& type, result_hook hook);

// ---- arguments (convert.cpp) ----

// Converts `arg` for `param`; err_ok or an error code. Owned texts are
// malloc'ed into out->hs and belong to the caller until the call.
int convert_arg(Tcl_Interp* interp, const param_def& param, Tcl_Obj* arg, value* out);
// Converts an object argument already resolved to its pointer and type.
int convert_resolved(const param_def& param, void* ptr, const type_info* type, value* out);
// Sets the conversion error result and error code; returns TCL_ERROR.
int conversion_error(Tcl_Interp* interp, int code, const char* cmd, int argno, const char* decl);

// ---- commands (dispatch.cpp, object_cmd.cpp) ----

// Runs a method for an object command: `self` is the object the command
// stands for, so objv[1] need not be resolved again.
int run_method(const command_def& def, const instance& self, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
int class_command(const command_def& def, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
int null_object_cmd(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
extern const char k_null_message[];

}  // namespace tcl
}  // namespace vek

#endif
