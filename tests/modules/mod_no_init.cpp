// Exports an entry but no vek_library_initialized, so it is not a library;
// the one vek_core.so exports must not stand in for it.
#include <vek/vek_core.h>

#define MOD_EXPORT extern "C" __attribute__((visibility("default")))

MOD_EXPORT void vek_library_entry()
{
    vek::i_string* svc = vek_create_string("mod_no_init");
    vek_core()->register_service(svc, "svc_mod_no_init");
    svc->release();
}

MOD_EXPORT const char* vek_library_name()
{
    return "mod_no_init";
}
