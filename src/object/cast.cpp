#include "vek/object/cast.h"
#include "object/cast_impl.h"
#include "vek/core.h"
#include "vek/util.h"

VEK_DEFINE_CAST(vek::i_object, i_object)
VEK_DEFINE_CAST(vek::i_object_factory, i_object_factory)
VEK_DEFINE_CAST(vek::i_named_object, i_named_object)
VEK_DEFINE_CAST(vek::i_typed_object, i_typed_object)
VEK_DEFINE_CAST(vek::i_event_handler, i_event_handler)

VEK_DEFINE_CAST(vek::i_string, i_string)
VEK_DEFINE_CAST(vek::i_named_string, i_named_string)
VEK_DEFINE_CAST(vek::i_object_col, i_object_col)
VEK_DEFINE_CAST(vek::i_object_col_x, i_object_col_x)
VEK_DEFINE_CAST(vek::i_property_manager, i_property_manager)
VEK_DEFINE_CAST(vek::property_manager, property_manager_object)

VEK_DEFINE_CAST(vek::i_core, i_core)
VEK_DEFINE_CAST(vek::i_var_subst, i_var_subst)
VEK_DEFINE_CAST(vek::i_string_proc, i_string_proc)
