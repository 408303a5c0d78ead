// Writing whole files so that a crash, a full disk or a concurrent reader
// never sees a file half old and half new.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"

namespace vek {
namespace platform {

namespace {

bool fail(std::string* error, int code)
{
    if (error != nullptr) *error = std::strerror(code);
    return false;
}

// Writes all `size` bytes; false with errno set on the first failure (a
// short write on a full disk ends in ENOSPC on the next call).
bool write_all(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The file a write to `path` must change: the target of a symbolic link,
// else the path itself.
std::string target_of(const char* path)
{
    struct stat st;
    if (::lstat(path, &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) return path;
    std::string out(resolved);
    std::free(resolved);
    return out;
}

// Creates a new, empty file beside `target`; its descriptor, or -1.
int create_sibling(const std::string& target, std::string& name)
{
    static std::atomic<unsigned int> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Flushes the directory entry of a rename to the disk; a failure here
// leaves the new contents in place, so it is not reported.
void sync_dir_of(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool replace_file(const char* path, const void* data, std::size_t size, std::string* error)
{
    std::string target = target_of(path);
    std::string temp;
    int fd = create_sibling(target, temp);
    if (fd < 0) return fail(error, errno);
    struct stat old;
    bool ok = (::stat(target.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0) &&
              write_all(fd, data, size) && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return fail(error, code);
    }
    sync_dir_of(target);
    return true;
}

bool append_file(const char* path, const void* data, std::size_t size, std::string* error)
{
    bool created = false;
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created = fd >= 0;
    }
    if (fd < 0) return fail(error, errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int code = errno;
        ::close(fd);
        return fail(error, code);
    }
    bool ok = write_all(fd, data, size) && ::fsync(fd) == 0;
    int code = errno;
    if (!ok) {
        // The failure being reported is the write's, not the cut's.
        int cut = ::ftruncate(fd, st.st_size);
        (void)cut;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok) return true;
    if (created) ::unlink(path);
    return fail(error, code);
}

bool stamp_file(const char* path, file_stamp* out)
{
    struct stat st;
    if (::stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    out->seconds = static_cast<long long>(st.st_mtim.tv_sec);
    out->nanoseconds = st.st_mtim.tv_nsec;
    out->size = static_cast<long long>(st.st_size);
    out->device = static_cast<unsigned long long>(st.st_dev);
    out->inode = static_cast<unsigned long long>(st.st_ino);
    return true;
}

}  // namespace platform
}  // namespace vek
