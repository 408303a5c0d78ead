// Loading shared modules.
#ifndef VEK_PLATFORM_MODULE_H
#define VEK_PLATFORM_MODULE_H

#include <string>

namespace vek {
namespace platform {

// Loads the module at `path` (symbols resolved now, made global). Null on
// failure; then *error points at the system's message, or is null. The
// message is valid until the next loader call in this thread.
void* load_module(const char* path, const char** error);
// The address of `name` defined in the module's own file. Symbols that the
// lookup would find in the libraries the module depends on do not count.
void* module_symbol(void* module, const char* name);
void unload_module(void* module);
// The name of the function at `address`: its demangled symbol and the
// module's file name ("vek::core::tick_loop(void*) in vek_core.so"), or
// the address in hex when the loader cannot tell.
std::string code_name(const void* address);

}  // namespace platform
}  // namespace vek

#endif
