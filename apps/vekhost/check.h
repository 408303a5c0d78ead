// vekhost --check: reads a configuration and an environment file and
// reports what a run would do, loading no library and starting nothing.
// Sets environment variables in this process only, as a run would, so that
// later paths expand the same way.
#ifndef VEKHOST_CHECK_H
#define VEKHOST_CHECK_H

#include "options.h"

namespace vekhost {

// Prints the report on standard output. The exit code: k_ok when clean,
// k_failed on an error, k_warnings when there are only warnings.
int run_check(const options& opts);

}  // namespace vekhost

#endif
