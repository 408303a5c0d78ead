#include "platform/fs.h"

#include <sys/stat.h>

namespace vek {
namespace platform {

entry_kind path_kind(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0) return entry_kind::none;
    return S_ISDIR(st.st_mode) ? entry_kind::directory : entry_kind::file;
}

}  // namespace platform
}  // namespace vek
