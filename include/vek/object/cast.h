// Cast functions of the object model and value types.
//
// Each vek_cast_N(obj) returns null for a null obj, else the result of
// obj->get_interface("N", ...) when that succeeds, else null.
// No reference added.
#ifndef VEK_OBJECT_CAST_H
#define VEK_OBJECT_CAST_H

#include "vek/object/base.h"
#include "vek/object/collection.h"
#include "vek/object/property.h"
#include "vek/object/string.h"

// No object of this library answers "i_object", so this is null for them.
VEK_API vek::i_object* vek_cast_i_object(vek::i_object* obj);
VEK_API vek::i_object_factory* vek_cast_i_object_factory(vek::i_object* obj);
VEK_API vek::i_named_object* vek_cast_i_named_object(vek::i_object* obj);
VEK_API vek::i_typed_object* vek_cast_i_typed_object(vek::i_object* obj);
VEK_API vek::i_event_handler* vek_cast_i_event_handler(vek::i_object* obj);

VEK_API vek::i_string* vek_cast_i_string(vek::i_object* obj);
VEK_API vek::i_named_string* vek_cast_i_named_string(vek::i_object* obj);
VEK_API vek::i_object_col* vek_cast_i_object_col(vek::i_object* obj);
VEK_API vek::i_object_col_x* vek_cast_i_object_col_x(vek::i_object* obj);
VEK_API vek::i_property_manager* vek_cast_i_property_manager(vek::i_object* obj);
// Asks for "property_manager_object", a name no class of this library
// answers (property_manager answers "i_property_manager"); a module's class
// may.
VEK_API vek::property_manager* vek_cast_property_manager_object(vek::i_object* obj);

#endif
