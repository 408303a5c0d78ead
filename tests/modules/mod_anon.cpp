// A library with neither a name nor a version of its own; the ones
// vek_core.so exports must not stand in for them.
#include <vek/vek_core.h>

#define MOD_EXPORT extern "C" __attribute__((visibility("default")))

MOD_EXPORT void vek_library_entry() {}

MOD_EXPORT bool vek_library_initialized()
{
    return true;
}
