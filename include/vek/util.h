// Text and file utilities: variable substitution and path resolution.
//
// File names given to the library are resolved against the root directory
// "VEK_ROOT_PATH": an absolute name comes back with forward slashes, a
// relative one is put under the root, and one holding ".." or a ${NAME}
// reference is expanded through the service "svc_string" and normalised.
//
// Thread safety: every function here is safe for concurrent use.
#ifndef VEK_UTIL_H
#define VEK_UTIL_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/collection.h"

namespace vek {

// A source of variable values; implemented by callers and plug-ins.
class VEK_API i_var_subst : public virtual i_object {
public:
    // Heap text: caller frees with free(). Null when unknown here.
    virtual char* get_variable_value(const char* variable) = 0;

protected:
    ~i_var_subst() = default;
};

class VEK_API i_string_proc : public virtual i_object {
public:
    // Heap text: caller frees with free(). `src` with its variable
    // references replaced; null for a null `src`.
    virtual char* process(const char* src, i_var_subst* var_subst) = 0;
    // New reference: caller releases. The process-wide substitutors.
    virtual i_object_col_x* get_global_var_substs() = 0;

protected:
    ~i_string_proc() = default;
};

}  // namespace vek

// Heap text: caller frees with free(). Null without a core, without
// "VEK_ROOT_PATH", for a null path, or when a path that needs expansion
// cannot be expanded.
VEK_API char* vek_get_absolute_path(const char* rel_path);
// An existing directory (the name is tested unchanged, trailing separators
// aside).
VEK_API bool vek_dir_exists(const char* pathname);
// An existing entry that is not a directory.
VEK_API bool vek_file_exists(const char* pathname);

VEK_API vek::i_var_subst* vek_cast_i_var_subst(vek::i_object* obj);
VEK_API vek::i_string_proc* vek_cast_i_string_proc(vek::i_object* obj);

#endif
