// File-system queries and changes.
#ifndef VEK_PLATFORM_FS_H
#define VEK_PLATFORM_FS_H

#include <string>
#include <vector>

namespace vek {
namespace platform {

enum class entry_kind { none, file, directory };

// What exists at `path` (symbolic links followed).
entry_kind path_kind(const char* path);

// True when `path` itself is a symbolic link.
bool is_link(const char* path);

// True when a non-directory entry exists at `path`; stores the low 32 bits
// of its modification time (seconds since 1970) in *mtime.
bool file_mtime(const char* path, unsigned int* mtime);

// The size in bytes of the non-directory entry at `path`; -1 when there is
// none or it is a directory.
long long file_size(const char* path);

struct dir_entry {
    std::string name;
    bool is_dir;  // symbolic links followed
};

// Appends the entries of `dir` whose names match `pattern`, in the order
// the system returns them ("." and ".." included). Only '*' (any run) and
// '?' (one character) are wildcards; every other character stands for
// itself. False when the directory cannot be opened.
bool list_dir(const char* dir, const char* pattern, std::vector<dir_entry>& out);

// Each of these is true on success.
bool make_dir(const char* path);
bool remove_dir(const char* path);
bool remove_file(const char* path);

}  // namespace platform
}  // namespace vek

#endif
