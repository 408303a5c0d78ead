// Entry points of the HTTP module. Site start-up loads it before the
// first site: its entry reads the settings and starts the server (the
// service "svc_http"); a setting out of range or an address it cannot
// listen on fails the entry, and so the load. Its Tcl extension (the
// package "vek_http") reaches every script engine once the module is
// loaded.
#include <tcl.h>

#include <vek/module.h>
#include <vek/vek_core.h>

#include "http_config.h"
#include "server.h"
#include "tcl_commands.h"
#include "vek/http.h"

namespace {

const char* const k_version = "1.0.0";
bool g_started = false;

}  // namespace

VEK_MODULE_EXPORT void vek_library_entry()
{
    vek::http::http_config config;
    g_started = vek::http::read_http_config(&config) && vek::http::server::start(config);
}

VEK_MODULE_EXPORT bool vek_library_initialized()
{
    return g_started;
}

VEK_MODULE_EXPORT const char* vek_library_name()
{
    return "vek_http";
}

VEK_MODULE_EXPORT const char* vek_library_version()
{
    return k_version;
}

VEK_MODULE_EXPORT bool vek_http_route(const char* method, const char* pattern, vek::http_handler handler, void* context)
{
    if (method == nullptr || pattern == nullptr || handler == nullptr) return false;
    vek::http::server* s = vek::http::server::find();
    if (s == nullptr) return false;
    vek::http::handler h;
    h.function = handler;
    h.context = context;
    bool added = s->routes().add(method, pattern, h);
    s->release();
    return added;
}

// Tcl's `load` calls this in each interpreter; TCL_ERROR for a null one.
VEK_MODULE_EXPORT int Vek_http_Init(Tcl_Interp* interp)
{
    if (vek::http::create_tcl_commands(interp) != TCL_OK) return TCL_ERROR;
    return Tcl_PkgProvide(interp, "vek_http", k_version);
}
