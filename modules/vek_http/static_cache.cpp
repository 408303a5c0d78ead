#include "static_cache.h"

#include <fcntl.h>

#include <unordered_map>
#include <utility>

namespace vek {
namespace http {

namespace {

struct thread_cache {
    std::unordered_map<std::string, cached_file> files;
    unsigned long long bytes = 0;
};

thread_cache& cache()
{
    thread_local thread_cache c;
    return c;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

const cached_file* find_cached(const std::string& key, int dir_fd, const char* path)
{
    thread_cache& c = cache();
    auto it = c.files.find(key);
    if (it == c.files.end()) return nullptr;
    struct stat now {};
    if (fstatat(dir_fd, path, &now, 0) == 0 && S_ISREG(now.st_mode) && same_file(now, it->second.st))
        return &it->second;
    c.bytes -= it->second.bytes.size();
    c.files.erase(it);
    return nullptr;
}

const cached_file& keep_cached(const std::string& key, const struct stat& st, std::string bytes)
{
    thread_cache& c = cache();
    if (c.bytes + bytes.size() > k_cached_bytes_max) {
        c.files.clear();
        c.bytes = 0;
    }
    auto [it, added] = c.files.try_emplace(key);
    if (!added) c.bytes -= it->second.bytes.size();
    c.bytes += bytes.size();
    it->second.st = st;
    it->second.bytes = std::move(bytes);
    return it->second;
}

}  // namespace http
}  // namespace vek
