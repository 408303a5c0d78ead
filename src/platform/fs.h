// File-system queries.
#ifndef VEK_PLATFORM_FS_H
#define VEK_PLATFORM_FS_H

namespace vek {
namespace platform {

enum class entry_kind { none, file, directory };

// What exists at `path` (symbolic links followed).
entry_kind path_kind(const char* path);

}  // namespace platform
}  // namespace vek

#endif
