// Object commands (a handle called with a method name), class commands
// and the "NULL" command.
#include <cstring>
#include <string>
#include <vector>

#include "script/tcl_binding/runtime.h"
#include "vek/script.h"

namespace vek {
namespace tcl {
namespace {

int fail(Tcl_Interp* interp, const char* text)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
    return TCL_ERROR;
}

// The interface's own methods first, then each base's, depth first.
const command_def* find_method(const class_record* cls, const char* name)
{
    for (int i = 0; i < cls->method_count; ++i) {
        if (std::strcmp(cls->methods[i].name, name) == 0) return cls->methods[i].cmd;
    }
    for (int b = 0; b < cls->base_count; ++b) {
        const command_def* found = find_method(cls->bases[b], name);
        if (found != nullptr) return found;
    }
    return nullptr;
}

void list_methods(const class_record* cls, std::vector<const char*>& names)
{
    for (int i = 0; i < cls->method_count; ++i) {
        const char* name = cls->methods[i].name;
        bool seen = false;
        for (const char* n : names) seen = seen || std::strcmp(n, name) == 0;
        if (!seen) names.push_back(name);
    }
    for (int b = 0; b < cls->base_count; ++b) list_methods(cls->bases[b], names);
}

int invalid_method(Tcl_Interp* interp, const class_record* cls)
{
    std::vector<const char*> names = {"configure", "cget"};
    list_methods(cls, names);
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Invalid method. Must be one of: configure cget", nullptr);
    for (std::size_t i = 2; i < names.size(); ++i) Tcl_AppendElement(interp, names[i]);
    return TCL_ERROR;
}

int object_cmd_body(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto* inst = static_cast<instance*>(cd);
    if (objc < 2) return fail(interp, "wrong # args.");
    const char* word = Tcl_GetString(objv[1]);
    if (std::strcmp(word, "cget") == 0) {
        if (objc < 3) return fail(interp, "wrong # args.");
        const char* option = Tcl_GetString(objv[2]);
        if (std::strcmp(option, "-this") == 0) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj(inst->handle, -1));
            return TCL_OK;
        }
        if (std::strcmp(option, "-thisown") == 0) {
            // Scripts never own an object outright: they count references.
            Tcl_SetObjResult(interp, Tcl_NewStringObj("0", 1));
            return TCL_OK;
        }
        return fail(interp, "Invalid attribute name.");
    }
    if (std::strcmp(word, "configure") == 0) {
        return fail(interp, objc < 4 ? "wrong # args." : "Invalid attribute name.");
    }
    const command_def* method = find_method(inst->type->cls, word);
    if (method == nullptr) return invalid_method(interp, inst->type->cls);

    // The method command with the handle in place of the method name. The
    // call may delete this command (a release to zero): `inst` is read
    // only while the arguments are converted, never after the call.
    Tcl_Obj* small[8];
    std::vector<Tcl_Obj*> large;
    Tcl_Obj** args = small;
    if (objc > 8) {
        large.resize(static_cast<std::size_t>(objc));
        args = large.data();
    }
    args[0] = objv[1];
    args[1] = objv[0];
    for (int i = 2; i < objc; ++i) args[i] = objv[i];
    return run_method(*method, *inst, interp, objc, args);
}

}  // namespace

int object_cmd(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    // No exception may cross Tcl's C frames.
    try {
        return object_cmd_body(cd, interp, objc, objv);
    } catch (...) {
        return fail(interp, "MemoryError out of memory");
    }
}

int class_command(const command_def& def, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    // NAME -this HANDLE, or -this HANDLE: a command for an existing object.
    int this_arg = 0;
    if (objc == 3 && std::strcmp(Tcl_GetString(objv[1]), "-this") == 0) this_arg = 2;
    if (objc == 4 && std::strcmp(Tcl_GetString(objv[2]), "-this") == 0) this_arg = 3;
    if (this_arg == 0) return fail(interp, "No constructor available.");

    const type_info& type = *def.cls->type;
    param_def param{kind::object, &type, type.decl};
    value v;
    int rc = convert_arg(interp, param, objv[this_arg], &v);
    if (rc != err_ok) return conversion_error(interp, rc, def.name, this_arg, type.decl);
    if (v.p == nullptr) return fail(interp, k_null_message);

    char handle[handle_size];
    make_handle(v.p, type, handle);
    const char* name = this_arg == 3 ? Tcl_GetString(objv[1]) : handle;
    Tcl_Command token = create_object_command(interp, name, v.p, type);
    // Bound to the object like a cast, so it goes with the object.
    i_object* obj = type.to_object(v.p);
    note_handed_out(v.p, type, obj);
    vek_tcl_register_object(obj, token);
    vek_tcl_register_cast(obj);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name, -1));
    return TCL_OK;
}

int null_object_cmd(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const[])
{
    return fail(interp, k_null_message);
}

}  // namespace tcl
}  // namespace vek
