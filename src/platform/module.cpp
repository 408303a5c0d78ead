#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>

#include <cxxabi.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

std::string code_name(const void* address)
{
    Dl_info info{};
    char text[64];
    std::snprintf(text, sizeof text, "%p", address);
    if (dladdr(address, &info) == 0) return text;
    std::string name;
    if (info.dli_sname != nullptr) {
        int status = 0;
        char* plain = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
        name = status == 0 && plain != nullptr ? plain : info.dli_sname;
        std::free(plain);
    } else {
        // Not exported: the offset in its file, for addr2line.
        std::snprintf(
            text, sizeof text, "+0x%zx",
            static_cast<size_t>(static_cast<const char*>(address) - static_cast<const char*>(info.dli_fbase)));
        name = text;
    }
    if (info.dli_fname != nullptr) {
        const char* slash = std::strrchr(info.dli_fname, '/');
        name += std::string(" in ") + (slash != nullptr ? slash + 1 : info.dli_fname);
    }
    return name;
}

}  // namespace platform
}  // namespace vek
