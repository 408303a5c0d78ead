// The entry points of the Tcl package "vek_core" 0.0.
#include "script/tcl_binding/runtime.h"
#include "vek/script.h"

namespace {

// Every command of the table runs through here, its record as client data.
int table_cmd(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    // No exception may cross Tcl's C frames.
    try {
        return vek::tcl::run_command(*static_cast<const vek::tcl::command_def*>(cd), interp, objc, objv);
    } catch (...) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("MemoryError out of memory", -1));
        return TCL_ERROR;
    }
}

}  // namespace

int Vek_core_Init(Tcl_Interp* interp)
{
    if (interp == nullptr) return TCL_ERROR;
    if (Tcl_PkgProvide(interp, VEK_CORE_LIBRARY_NAME, VEK_CORE_LIBRARY_VERSION) != TCL_OK) return TCL_ERROR;
    vek::tcl::share_type_table(interp);
    for (int i = 0; i < vek::tcl::k_command_count; ++i) {
        const vek::tcl::command_def* def = vek::tcl::k_commands[i];
        Tcl_CreateObjCommand(interp, def->name, table_cmd, const_cast<vek::tcl::command_def*>(def), nullptr);
    }
    // A null result is the handle "NULL"; a method called on it lands here.
    Tcl_CreateObjCommand(interp, "NULL", vek::tcl::null_object_cmd, nullptr, nullptr);
    return TCL_OK;
}

int Vek_core_SafeInit(Tcl_Interp* interp)
{
    return Vek_core_Init(interp);
}
