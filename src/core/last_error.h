// This thread's reason for the last failure of a loading call
// (vek_load_config, i_core::load_library, vek_load_environment,
// vek_init_app), which vek_get_last_error hands to the host. The trace and
// log lines of those calls stay as they are; this is the one-line reason
// beside them.
//
// Thread safety: per thread; nothing is shared.
#ifndef VEK_CORE_LAST_ERROR_H
#define VEK_CORE_LAST_ERROR_H

namespace vek {

void set_last_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void clear_last_error();

}  // namespace vek

#endif
