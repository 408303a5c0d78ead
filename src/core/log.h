// Internal side of the logging facility.
#ifndef VEK_CORE_LOG_H
#define VEK_CORE_LOG_H

namespace vek {

// Flushes the trace and log destinations (files and standard streams
// alike). The tick calls it every 50 ms.
void log_flush_files();
// While the tick runs (and flushes), lines are only buffered; without it
// each line is flushed as it is written, so none waits for the exit.
void log_set_ticking(bool ticking);
// Closes the trace and log files unless they are standard streams, and
// sets both destinations to none. The facility names keep their values.
void log_close_files();

}  // namespace vek

#endif
