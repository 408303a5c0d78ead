// The common body of the exported vek_cast_... functions.
#ifndef VEK_OBJECT_CAST_IMPL_H
#define VEK_OBJECT_CAST_IMPL_H

#include "vek/object/base.h"

namespace vek {

// No reference added.
template <class T>
T* cast_by_name(i_object* obj, const char* name)
{
    if (obj == nullptr) return nullptr;
    void* p = nullptr;
    if (!obj->get_interface(name, &p)) return nullptr;
    return static_cast<T*>(p);
}

}  // namespace vek

#define VEK_DEFINE_CAST(type, name)                 \
    type* vek_cast_##name(vek::i_object* obj)       \
    {                                               \
        return vek::cast_by_name<type>(obj, #name); \
    }

#endif
