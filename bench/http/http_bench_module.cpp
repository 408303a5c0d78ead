// A module for the HTTP benchmark: routes GET /c to a C++ handler that
// answers a short text, the baseline for the same answer from Tcl.
#include <vek/module.h>
#include <vek/vek_core.h>

#include "vek/http.h"

namespace {

bool g_routed = false;

bool hello(vek::http_request* request, void*)
{
    request->respond(200, "hello\n", 6, "text/plain");
    return true;
}

}  // namespace

VEK_MODULE_EXPORT void vek_library_entry()
{
    g_routed = vek_http_route("GET", "/c", hello, nullptr);
}

VEK_MODULE_EXPORT bool vek_library_initialized()
{
    return g_routed;
}

VEK_MODULE_EXPORT const char* vek_library_name()
{
    return "http_bench_module";
}

VEK_MODULE_EXPORT const char* vek_library_version()
{
    return "1.0.0";
}
