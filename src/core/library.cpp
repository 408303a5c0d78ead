#include "core/library.h"

#include <type_traits>

#include "object/cast_impl.h"
#include "object/interface_query.h"
#include "platform/module.h"
#include "vek/module.h"

namespace vek {

namespace {

// vek_library_name and vek_library_version have this one signature.
using text_export = vek_library_name_fn;
static_assert(std::is_same_v<text_export, vek_library_version_fn>);

// The text an optional export returns, or "" without the export or when
// it throws (a module's exception never crosses into the core).
const char* exported_text(void* handle, const char* name)
{
    auto fn = reinterpret_cast<text_export>(platform::module_symbol(handle, name));
    const char* text = nullptr;
    try {
        if (fn != nullptr) text = fn();
    } catch (...) {
        text = nullptr;
    }
    return text != nullptr ? text : "";
}

}  // namespace

vek_library::vek_library(void* handle, const char* path)
    : m_handle(handle), m_path(path), m_version(exported_text(handle, "vek_library_version"))
{
    set_name(exported_text(handle, "vek_library_name"));
}

const char* vek_library::get_path()
{
    return m_path.c_str();
}

const char* vek_library::get_version()
{
    return m_version.c_str();
}

void* vek_library::get_handle()
{
    return m_handle;
}

bool vek_library::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_vek_library")) return answer(pp_obj, static_cast<i_vek_library*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    return object::get_interface(iface_name, pp_obj);
}

}  // namespace vek

VEK_DEFINE_CAST(vek::i_vek_library, i_vek_library)

bool vek_library_loaded(const char* lib_name)
{
    vek::i_core* c = vek_core();
    if (lib_name == nullptr || c == nullptr) return false;
    vek::i_object_col* libs = c->get_libraries();
    vek::i_object* found = libs->get_item_by_name(lib_name);
    bool loaded = found != nullptr;
    vek_release(found);
    libs->release();
    return loaded;
}
