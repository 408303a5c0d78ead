// Loading shared modules.
#ifndef VEK_PLATFORM_MODULE_H
#define VEK_PLATFORM_MODULE_H

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

}  // namespace platform
}  // namespace vek

#endif
