// The process environment and the current directory.
#ifndef VEK_PLATFORM_ENV_H
#define VEK_PLATFORM_ENV_H

#include <cstddef>

namespace vek {
namespace platform {

// The variable's value, or null when unset. Owned by the environment.
const char* get_env(const char* name);
// Sets the variable (the value is copied). False on failure.
bool set_env(const char* name, const char* value);
// Writes the current directory into buf. False when it cannot be read or
// does not fit.
bool current_dir(char* buf, std::size_t size);

}  // namespace platform
}  // namespace vek

#endif
