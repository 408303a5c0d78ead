// Entry point of the HTTP module of the framework. Site start-up loads it
// before the first site; it registers no services yet.
#include <vek/vek_core.h>

#define VEK_HTTP_EXPORT extern "C" __attribute__((visibility("default")))

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
    return "1.0.0";
}
