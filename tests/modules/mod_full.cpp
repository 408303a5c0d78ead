// The small modules the library-loading tests load, built in variants:
//   mod_full     a complete library: name, version, and an entry that
//                registers "svc_mod_full";
//   mod_no_init  exports an entry but no vek_library_initialized, so it is
//                not a library (the one vek_core.so exports must not stand
//                in for it);
//   mod_false    reports that it could not get ready;
//   mod_throw    the same, but its entry throws;
//   mod_anon     neither name nor version of its own (vek_core.so's must
//                not stand in for them).
#include <stdexcept>

#include <vek/module.h>
#include <vek/vek_core.h>

VEK_MODULE_EXPORT void vek_library_entry()
{
#if defined(MOD_THROW)
    throw std::runtime_error("no database");
#elif defined(MOD_SERVICE)
    vek_core()->register_service(auto_ptr_t<vek::i_string>(vek_create_string(MOD_NAME)), "svc_" MOD_NAME);
#endif
}

#ifndef MOD_NO_INIT
VEK_MODULE_EXPORT bool vek_library_initialized()
{
    return MOD_READY;
}
#endif

#ifdef MOD_NAME
VEK_MODULE_EXPORT const char* vek_library_name()
{
    return MOD_NAME;
}
#endif

#ifdef MOD_VERSION
VEK_MODULE_EXPORT const char* vek_library_version()
{
    return MOD_VERSION;
}
#endif
