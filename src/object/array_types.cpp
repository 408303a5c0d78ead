#include "vek/object/array.h"

#include "object/interface_query.h"

namespace vek {

// The pooled value types leave their own count at 0: only the block counter
// governs their lifetime.

array_string::array_string() {}

array_string::array_string(const char* val)
{
    set_value(val);
}

bool array_string::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_string")) return answer(pp_obj, static_cast<i_string*>(this));
    return array_object_impl<array_string>::get_interface(iface_name, pp_obj);
}

array_named_string::array_named_string() {}

array_named_string::array_named_string(const char* name, const char* val)
{
    set_value(val);
    set_name(name);
}

bool array_named_string::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_named_string")) return answer(pp_obj, static_cast<i_named_string*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    if (name_is(iface_name, "i_string")) return answer(pp_obj, static_cast<i_string*>(this));
    return array_object_impl<array_named_string>::get_interface(iface_name, pp_obj);
}

array_binary::array_binary() {}

array_binary::array_binary(const void* data, unsigned int size, bool assign)
{
    if (assign) {
        assign_data(const_cast<void*>(data), size);
    } else {
        set_data(data, size);
    }
}

bool array_binary::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_binary")) return answer(pp_obj, static_cast<i_binary*>(this));
    return array_object_impl<array_binary>::get_interface(iface_name, pp_obj);
}

array_object_col::array_object_col() {}

bool array_object_col::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_object_col")) return answer(pp_obj, static_cast<i_object_col*>(this));
    return array_object_impl<array_object_col>::get_interface(iface_name, pp_obj);
}

}  // namespace vek
