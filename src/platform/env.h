// The process environment and the current directory.
//
// Every write of the library goes through set_env. glibc's own setenv
// reallocates the environment array when it adds a name, so a getenv in
// another thread can walk freed memory. set_env never frees: writers
// serialise on one lock, each "NAME=value" text and each array is complete
// before an atomic store publishes it, and whatever a store replaces is
// retired (kept until the process exits). A NAME=value pair set again
// reuses its first text, so the kept memory grows with the distinct pairs
// ever set and the arrays' doublings. A reader anywhere in the process
// (this library, a module, Tcl's env, plain getenv) therefore sees an old or
// a new value, never a torn one.
//
// Thread safety: every function here is safe for concurrent use with each
// other and with getenv. Writes by other code (setenv, putenv, unsetenv,
// Tcl) are not serialised with ours; set_env notices a changed array and
// takes it over on its next call. env.cpp explains how Tcl's readers are
// ordered after our writes.
#ifndef VEK_PLATFORM_ENV_H
#define VEK_PLATFORM_ENV_H

#include <cstddef>
#include <string>

namespace vek {
namespace platform {

// The variable's value, or null when unset. Owned by the environment: a
// value set through set_env stays readable until the process exits.
const char* get_env(const char* name);
// Sets the variable to a copy of `value` ("" sets an empty variable). With
// `overwrite` false a variable that is set already keeps its value (the
// result is still true). False for a null or empty name, a name holding
// '=', a null value, or when memory runs out.
bool set_env(const char* name, const char* value, bool overwrite = true);
// set_env of "NAME=value" split at its first '='; false without one.
bool put_env(const char* assignment);
// Locks and unlocks Tcl's environment lock. REQUIRES: init_tcl_once has
// run.
void pass_tcl_env_lock();
// While one lives, set_env waits. For the library's own calls that read
// the environment with plain loads (Tcl making an interpreter, the C
// library loading the time zone): each publication then comes wholly
// before or after them. No set_env in its scope (it would wait for itself).
class env_pause {
public:
    env_pause();
    ~env_pause();
    env_pause(const env_pause&) = delete;
    env_pause& operator=(const env_pause&) = delete;
};

// Writes the current directory into buf. False when it cannot be read or
// does not fit.
bool current_dir(char* buf, std::size_t size);

// The directory of the running program's file ("" when it cannot be
// read), e.g. "/opt/app/bin".
std::string program_dir();

}  // namespace platform
}  // namespace vek

#endif
