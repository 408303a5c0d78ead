// Helpers for get_interface implementations: each class compares the asked
// name with its own names in order and answers the first that matches.
#ifndef VEK_OBJECT_INTERFACE_QUERY_H
#define VEK_OBJECT_INTERFACE_QUERY_H

#include <cstring>

namespace vek {

// Exact, case-sensitive comparison; a null name matches nothing.
inline bool name_is(const char* iface_name, const char* name)
{
    return iface_name != nullptr && std::strcmp(iface_name, name) == 0;
}

// Stores the matched interface pointer (no reference added).
inline bool answer(void** pp_obj, void* p)
{
    if (pp_obj != nullptr) *pp_obj = p;
    return true;
}

}  // namespace vek

#endif
