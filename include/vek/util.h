// Text and file utilities: variable substitution, path resolution and
// whole-file and directory operations.
//
// File names given to the library are resolved against the root directory
// "VEK_ROOT_PATH": an absolute name comes back with forward slashes, a
// relative one is put under the root, and one holding ".." or a ${NAME}
// reference is expanded through the service "svc_string" and normalised.
// Every file and directory function below resolves its names this way and
// fails when a name cannot be resolved; vek_dir_exists, vek_file_exists
// and vek_make_path test names as given. Failures are reported by the
// result alone; nothing is logged.
//
// Thread safety: every function here is safe for concurrent use.
#ifndef VEK_UTIL_H
#define VEK_UTIL_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/binary.h"
#include "vek/object/collection.h"
#include "vek/util/charset.h"
#include "vek/util/checksum.h"
#include "vek/util/encoding.h"
#include "vek/util/text.h"
#include "vek/util/time.h"
#include "vek/util/translator.h"

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

// Heap text: caller frees with free(). The whole file with every CR LF
// turned into LF; null when it cannot be read.
VEK_API char* vek_read_file(const char* file_path);
// New reference: caller releases. The file's bytes (an empty buffer for an
// empty file); null when it cannot be read whole.
VEK_API vek::i_binary* vek_read_binary_file(const char* file_path);
// Writes (or with `append`, appends) the bytes. True once the file is open,
// even when not every byte could be written.
VEK_API bool vek_write_binary_file(const char* file_path, const void* data, unsigned int data_size,
                                   bool append = false);
// vek_write_binary_file of the text without its terminator.
VEK_API bool vek_write_file(const char* file_path, const char* data, bool append = false);
// New reference: caller releases. string items holding the bare names in
// `dir` that match `file_spec` ('*' and '?' wildcards), "." and ".."
// skipped; `target_type` 1 = files, 2 = directories, 0 or 3 = both. Empty
// when the directory cannot be listed; null for a null or empty argument
// or an unresolvable `dir`.
VEK_API vek::i_object_col* vek_scan_dir(const char* dir, const char* file_spec, int target_type);
// Creates the one directory.
VEK_API bool vek_mkdir(const char* path);
// Removes the directory; with `recursive`, its files and subdirectories
// first, stopping at the first entry that cannot be removed.
VEK_API bool vek_rmdir(const char* path, bool recursive);
// Creates every missing directory along `path`; true when it exists at the
// end (or `path` is null).
VEK_API bool vek_make_path(const char* path);
// New reference: caller releases. string items holding "directory/name" for
// the files matching each ';'-separated pattern in `paths`; null for null.
VEK_API vek::i_object_col* vek_split_path(const char* paths);

VEK_API vek::i_var_subst* vek_cast_i_var_subst(vek::i_object* obj);
VEK_API vek::i_string_proc* vek_cast_i_string_proc(vek::i_object* obj);

#endif
