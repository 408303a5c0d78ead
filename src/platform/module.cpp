#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>

namespace vek {
namespace platform {

void* load_module(const char* path, const char** error)
{
    void* module = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    if (module == nullptr) *error = dlerror();
    return module;
}

// dlsym on a module's handle also searches the libraries it depends on, so
// the symbol only counts when it lies in the same file as the module's own
// dynamic section.
void* module_symbol(void* module, const char* name)
{
    void* sym = dlsym(module, name);
    if (sym == nullptr) return nullptr;
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
    Dl_info own, found;
    if (dladdr(map->l_ld, &own) == 0 || dladdr(sym, &found) == 0) return nullptr;
    return own.dli_fbase == found.dli_fbase ? sym : nullptr;
}

void unload_module(void* module)
{
    dlclose(module);
}

}  // namespace platform
}  // namespace vek
