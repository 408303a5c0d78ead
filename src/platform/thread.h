// Threads, thread identity and sleeping.
//
// Threads are Tcl threads so that Tcl thread-exit handlers run when they
// end and task code may use interpreters.
#ifndef VEK_PLATFORM_THREAD_H
#define VEK_PLATFORM_THREAD_H

namespace vek {
namespace platform {

typedef void (*thread_entry)(void* arg);
typedef void (*thread_exit_handler)(void* arg);

// Prepares Tcl's process state (Tcl_FindExecutable) once per process.
void init_tcl_once();
// Starts a detached thread with the default stack size running
// entry(arg). False when the thread cannot be created.
bool create_thread(thread_entry entry, void* arg);
// Runs `handler(arg)` when the calling thread ends through exit_thread.
void on_thread_exit(thread_exit_handler handler, void* arg);
// Removes a handler registered with on_thread_exit.
void remove_thread_exit(thread_exit_handler handler, void* arg);
// Ends the calling thread after running its exit handlers. Never returns.
[[noreturn]] void exit_thread();
// The kernel's id of the calling thread: positive, unique among live
// threads.
unsigned long thread_id();
// True when the thread of this process with kernel id `id` is running or
// waiting for a CPU; false when it sleeps, waits for I/O or has ended.
bool thread_is_runnable(unsigned long id);
// Sleeps `ms` milliseconds; 0 sleeps 1 ms.
void sleep_ms(unsigned int ms);

}  // namespace platform
}  // namespace vek

#endif
