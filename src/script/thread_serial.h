// A serial number per thread, never reused in the process (kernel thread
// ids are), so that an engine left behind by an ended thread is not taken
// for the engine of a new thread with the same id.
#ifndef VEK_SCRIPT_THREAD_SERIAL_H
#define VEK_SCRIPT_THREAD_SERIAL_H

namespace vek {

unsigned long long thread_serial();

}  // namespace vek

#endif
