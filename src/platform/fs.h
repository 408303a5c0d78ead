// File-system queries and changes.
#ifndef VEK_PLATFORM_FS_H
#define VEK_PLATFORM_FS_H

#include <cstddef>
#include <string>
#include <vector>

namespace vek {
namespace platform {

enum class entry_kind { none, file, directory };

// What exists at `path` (symbolic links followed).
entry_kind path_kind(const char* path);

// Why the file at `path` cannot be read: the system's text ("No such file
// or directory", "Permission denied", "Is a directory"); "" when it can.
std::string read_problem(const char* path);

// True when `path` itself is a symbolic link.
bool is_link(const char* path);

// True when a non-directory entry exists at `path`; stores the low 32 bits
// of its modification time (seconds since 1970) in *mtime.
bool file_mtime(const char* path, unsigned int* mtime);

// The size in bytes of the non-directory entry at `path`; -1 when there is
// none or it is a directory.
long long file_size(const char* path);

// What tells one version of a file from the next: the modification time to
// the nanosecond, the size, and the device and inode (a file replaced by
// rename is a new inode even when time and size repeat).
struct file_stamp {
    long long seconds = 0;
    long nanoseconds = 0;
    long long size = 0;
    unsigned long long device = 0;
    unsigned long long inode = 0;

    bool operator==(const file_stamp& o) const
    {
        return seconds == o.seconds && nanoseconds == o.nanoseconds && size == o.size && device == o.device &&
               inode == o.inode;
    }
    bool operator!=(const file_stamp& o) const { return !(*this == o); }
};

// True when a non-directory entry exists at `path` (symbolic links
// followed); its stamp goes to *out.
bool stamp_file(const char* path, file_stamp* out);

// Replaces the contents of the file at `path` (created when missing) with
// `size` bytes, so that no reader and no crash ever sees a part: the bytes
// go to a new file in the same directory, which is flushed to the disk and
// then renamed over `path`. A symbolic link is written through; an existing
// file keeps its permission bits. On any failure the old file stays as it
// was, and the result is false with the system's reason in *error.
bool replace_file(const char* path, const void* data, std::size_t size, std::string* error);

// Appends `size` bytes to the file at `path` (created when missing) and
// flushes them to the disk. On any failure the file is cut back to its old
// length (or removed, when this call created it), and the result is false
// with the system's reason in *error.
bool append_file(const char* path, const void* data, std::size_t size, std::string* error);

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
