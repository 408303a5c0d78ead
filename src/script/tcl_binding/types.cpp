// The package's type table: lookup by handle suffix, pointer conversion to
// base interfaces, and its publication to other bindings.
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "script/tcl_binding/runtime.h"

namespace vek {
namespace tcl {
namespace {

const char k_table_var[] = "swig_runtime_data_type_pointer2";

struct type_index {
    std::unordered_map<std::string_view, const type_info*> by_name;
    char packed[2 * sizeof(void*) + 1];

    type_index()
    {
        for (int i = 0; i < k_type_count; ++i) by_name.emplace(k_types[i].name, &k_types[i]);
        const type_info* table = k_types;
        unsigned char bytes[sizeof table];
        std::memcpy(bytes, &table, sizeof table);
        static const char hex[] = "0123456789abcdef";
        for (std::size_t i = 0; i < sizeof bytes; ++i) {
            packed[2 * i] = hex[bytes[i] >> 4];
            packed[2 * i + 1] = hex[bytes[i] & 15];
        }
        packed[sizeof packed - 1] = 0;
    }
};

// Built on first use, once per process (a function-local static).
const type_index& index()
{
    static const type_index instance;
    return instance;
}

}  // namespace

const type_info* find_type(const char* name, std::size_t len)
{
    // Scripts mostly pass the type they passed last.
    thread_local const type_info* last = nullptr;
    if (last != nullptr && std::strncmp(last->name, name, len) == 0 && last->name[len] == 0) return last;
    const auto& map = index().by_name;
    auto it = map.find(std::string_view(name, len));
    if (it == map.end()) return nullptr;
    last = it->second;
    return last;
}

bool convert_pointer(const type_info* from, void* p, const type_info* to, void** out)
{
    if (from == to) {
        *out = p;
        return true;
    }
    for (int i = 0; i < from->base_count; ++i) {
        if (from->bases[i].base == to) {
            *out = p != nullptr ? from->bases[i].up(p) : nullptr;
            return true;
        }
    }
    return false;
}

const char* packed_type_table()
{
    return index().packed;
}

void share_type_table(Tcl_Interp* interp)
{
    // Another binding's table stays: its types are its own.
    if (Tcl_GetVar(interp, k_table_var, TCL_GLOBAL_ONLY) != nullptr) return;
    Tcl_SetVar(interp, k_table_var, packed_type_table(), TCL_GLOBAL_ONLY);
}

}  // namespace tcl
}  // namespace vek
