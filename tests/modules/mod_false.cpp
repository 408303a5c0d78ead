// A library that reports that it could not get ready; built as mod_throw,
// its entry throws instead.
#include <stdexcept>

#include <vek/vek_core.h>

#define MOD_EXPORT extern "C" __attribute__((visibility("default")))

MOD_EXPORT void vek_library_entry()
{
#ifdef MOD_THROW
    throw std::runtime_error("no database");
#endif
}

MOD_EXPORT bool vek_library_initialized()
{
    return false;
}

MOD_EXPORT const char* vek_library_name()
{
#ifdef MOD_THROW
    return "mod_throw";
#else
    return "mod_false";
#endif
}
