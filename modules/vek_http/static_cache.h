// Small static files kept in memory, per worker thread.
//
// A file of a static directory up to `k_cached_file_max` bytes is read once
// and kept by the thread that answered it. Each later request looks the
// path up again beneath the directory (one stat, following symbolic links
// as the first open did) and uses the kept bytes only while the file found
// there is the same one: same device and inode, size and modification
// time. Anything else drops the entry, and the file is opened and checked
// beneath the directory as the first time. A file rewritten in place within
// the file system's timestamp granularity and at the same size is not seen
// as changed; its ETag, made of the same two values, does not change
// either.
//
// Each thread keeps at most `k_cached_bytes_max` bytes; past that it
// forgets everything and starts again.
//
// Thread safety: each thread has its own cache; nothing is shared.
#ifndef VEK_HTTP_STATIC_CACHE_H
#define VEK_HTTP_STATIC_CACHE_H

#include <sys/stat.h>

#include <string>

namespace vek {
namespace http {

constexpr unsigned long long k_cached_file_max = 64 * 1024;
constexpr unsigned long long k_cached_bytes_max = 4 * 1024 * 1024;

struct cached_file {
    struct stat st;      // the file as it was read
    std::string bytes;   // all of it
};

// The calling thread's entry for `key` when `path` beneath `dir_fd` is
// still the file it was made from; null otherwise. Valid until this
// thread's next call to find_cached or keep_cached.
const cached_file* find_cached(const std::string& key, int dir_fd, const char* path);

// Keeps the whole file `bytes` (at most k_cached_file_max of them), whose
// status is `st`, under `key`, and returns the entry, valid as
// find_cached's.
const cached_file& keep_cached(const std::string& key, const struct stat& st, std::string bytes);

}  // namespace http
}  // namespace vek

#endif
