// Process-wide flags and settings of the library.
//
// The running flag and the entry flag are written by one thread
// (initialise, terminate, the library entry) and polled by all.
#ifndef VEK_CORE_PROCESS_STATE_H
#define VEK_CORE_PROCESS_STATE_H

namespace vek {

void set_running(bool running);
// Set once by the library's own entry; until then no thread can be created.
bool library_entered();
void set_library_entered();
// The most threads the library runs at once (150 unless configured).
int max_thread_count();
void set_max_thread_count(int count);
// Cut to 1023 characters.
void set_temp_path(const char* path);

}  // namespace vek

#endif
