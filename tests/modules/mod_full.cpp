// A complete library: its entry registers "svc_mod_full".
#include <vek/vek_core.h>

#define MOD_EXPORT extern "C" __attribute__((visibility("default")))

MOD_EXPORT void vek_library_entry()
{
    vek::i_string* svc = vek_create_string("mod_full");
    vek_core()->register_service(svc, "svc_mod_full");
    svc->release();
}

MOD_EXPORT bool vek_library_initialized()
{
    return true;
}

MOD_EXPORT const char* vek_library_name()
{
    return "mod_full";
}

MOD_EXPORT const char* vek_library_version()
{
    return "1.2.3";
}
