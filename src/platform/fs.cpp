#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vek {
namespace platform {

namespace {

// fnmatch treats brackets as sets and a backslash as an escape; callers
// only mean '*' and '?', so both become literals.
std::string literal_brackets(const char* pattern)
{
    std::string escaped;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (*p == '[' || *p == '\\') escaped.push_back('\\');
        escaped.push_back(*p);
    }
    return escaped;
}

bool entry_is_dir(const std::string& dir, const struct dirent* ent)
{
    if (ent->d_type == DT_DIR) return true;
    if (ent->d_type != DT_UNKNOWN && ent->d_type != DT_LNK) return false;
    return path_kind((dir + "/" + ent->d_name).c_str()) == entry_kind::directory;
}

}  // namespace

entry_kind path_kind(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0) return entry_kind::none;
    return S_ISDIR(st.st_mode) ? entry_kind::directory : entry_kind::file;
}

std::string read_problem(const char* path)
{
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat st;
    int err = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    ::close(fd);
    return err != 0 ? std::strerror(err) : "";
}

bool file_mtime(const char* path, unsigned int* mtime)
{
    struct stat st;
    if (::stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    *mtime = static_cast<unsigned int>(st.st_mtime);
    return true;
}

bool is_link(const char* path)
{
    struct stat st;
    return ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

long long file_size(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

bool list_dir(const char* dir, const char* pattern, std::vector<dir_entry>& out)
{
    DIR* d = ::opendir(dir);
    if (d == nullptr) return false;
    std::string dir_name(dir);
    std::string glob = literal_brackets(pattern);
    while (const struct dirent* ent = ::readdir(d)) {
        if (::fnmatch(glob.c_str(), ent->d_name, 0) != 0) continue;
        out.push_back(dir_entry{ent->d_name, entry_is_dir(dir_name, ent)});
    }
    ::closedir(d);
    return true;
}

bool make_dir(const char* path)
{
    return ::mkdir(path, 0777) == 0;
}

bool remove_dir(const char* path)
{
    return ::rmdir(path) == 0;
}

bool remove_file(const char* path)
{
    return ::unlink(path) == 0;
}

}  // namespace platform
}  // namespace vek
