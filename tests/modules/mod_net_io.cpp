// A module with a Tcl extension, built in variants: MOD_NAME is its library
// name (none when undefined) and MOD_TCL_INIT gives it the init function
// Tcl looks for under that name.
#include <tcl.h>

#include <vek/module.h>
#include <vek/vek_core.h>

VEK_MODULE_EXPORT void vek_library_entry() {}

VEK_MODULE_EXPORT bool vek_library_initialized()
{
    return true;
}

#ifdef MOD_NAME
VEK_MODULE_EXPORT const char* vek_library_name()
{
    return MOD_NAME;
}
#endif

#ifdef MOD_TCL_INIT
VEK_MODULE_EXPORT int Net_io_Init(Tcl_Interp* interp)
{
    Tcl_SetVar(interp, "net_io_loaded", "1", TCL_GLOBAL_ONLY);
    return TCL_OK;
}
#endif
