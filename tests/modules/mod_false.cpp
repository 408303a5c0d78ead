// A library that reports that it could not get ready.
#include <vek/vek_core.h>

#define MOD_EXPORT extern "C" __attribute__((visibility("default")))

MOD_EXPORT void vek_library_entry() {}

MOD_EXPORT bool vek_library_initialized()
{
    return false;
}

MOD_EXPORT const char* vek_library_name()
{
    return "mod_false";
}
