// The string processor: replaces $NAME and ${NAME} references in a text
// with values from a per-call substitutor, the process-wide substitutors
// and the environment. vek_initialize registers it as "svc_string".
//
// Thread safety: safe for concurrent use. process takes no lock of its own;
// the collection of global substitutors locks itself per operation, and
// substitutors may be called from several threads at once.
#ifndef VEK_UTIL_STRING_PROC_H
#define VEK_UTIL_STRING_PROC_H

#include "vek/object.h"
#include "vek/util.h"

namespace vek {

class string_proc : public object, public i_named_object_impl, public virtual i_string_proc {
public:
    // Named "string_service", with an empty collection of substitutors.
    string_proc();
    ~string_proc() override;

    // Heap text: caller frees with free(). Null for a null `src` or when
    // memory runs out.
    char* process(const char* src, i_var_subst* var_subst) override;
    // New reference: caller releases.
    i_object_col_x* get_global_var_substs() override;

    // Answers "i_string_proc" and "i_named_object".
    bool get_interface(const char* iface_name, void** pp_obj) override;

private:
    // Heap text: caller frees with free(). The first value any source
    // gives for `name` (`globals` may be null), or null.
    static char* lookup(const char* name, i_var_subst* var_subst, i_object_col* globals);

    // Heap text: caller frees with free(). `src` with its references
    // replaced; `dollar` is its first '$'. Throws std::bad_alloc.
    static char* expand(const char* src, const char* dollar, i_var_subst* var_subst, i_object_col* globals);

    // Holds one reference.
    object_col_x* m_globals;
};

}  // namespace vek

#endif
