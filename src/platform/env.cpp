#include "platform/env.h"

#include <stdlib.h>
#include <unistd.h>

namespace vek {
namespace platform {

const char* get_env(const char* name)
{
    return ::getenv(name);
}

bool set_env(const char* name, const char* value)
{
    return ::setenv(name, value, 1) == 0;
}

bool current_dir(char* buf, std::size_t size)
{
    return ::getcwd(buf, size) != nullptr;
}

}  // namespace platform
}  // namespace vek
