// Internal side of the logging facility.
#ifndef VEK_CORE_LOG_H
#define VEK_CORE_LOG_H

namespace vek {

// Flushes the trace and log files unless they are standard streams.
void log_flush_files();
// Closes the trace and log files unless they are standard streams, and
// sets both destinations to none. The facility names keep their values.
void log_close_files();

}  // namespace vek

#endif
