// Entry point of the HTTP module of the framework. Site start-up loads it
// before the first site; it registers no services yet. Its Tcl extension
// (the package "vek_http") reaches every script engine once the module is
// loaded, so a site's start script can ask for it.
#include <tcl.h>

#include <vek/vek_core.h>

#define VEK_HTTP_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char* const k_version = "1.0.0";

}  // namespace

VEK_HTTP_EXPORT void vek_library_entry() {}

VEK_HTTP_EXPORT bool vek_library_initialized()
{
    return true;
}

VEK_HTTP_EXPORT const char* vek_library_name()
{
    return "vek_http";
}

VEK_HTTP_EXPORT const char* vek_library_version()
{
    return k_version;
}

// Tcl's `load` calls this in each interpreter; TCL_ERROR for a null one.
VEK_HTTP_EXPORT int Vek_http_Init(Tcl_Interp* interp)
{
    if (interp == nullptr) return TCL_ERROR;
    return Tcl_PkgProvide(interp, "vek_http", k_version);
}
