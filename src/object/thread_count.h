// The process-wide registry of the library's live threads: every thread
// made by thread_creator and every pool thread. vek_terminate waits for
// the count to reach 0 and names the threads that are still running; the
// status snapshot lists them by role.
//
// A thread is counted before it exists (so its own decrement cannot come
// first) and registered once it runs. Its role is a static text ("tick",
// "delivery", ...); its activity is what it is doing now (an event's
// name, a task), copied, with the time it began.
//
// Thread safety: safe for concurrent use. One lock guards the list of
// records, and each record has its own for its activity; the list lock is
// taken before a record's, never the other way round.
#ifndef VEK_OBJECT_THREAD_COUNT_H
#define VEK_OBJECT_THREAD_COUNT_H

#include <string>
#include <vector>

namespace vek {

void thread_count_add();
void thread_count_sub();
int thread_count_get();

// Registers the calling thread under `role` until thread_unregister.
void thread_register(const char* role);
void thread_unregister();
// Changes the calling thread's role (static text); no effect on a thread
// that is not registered.
void thread_set_role(const char* role);
// Sets what the calling thread is doing now (copied, at most 63 bytes);
// null or "" when it waits for work.
void thread_set_activity(const char* what);

// Sets the calling thread's activity to running the function at `task`,
// named when a snapshot is taken (so setting it costs no lookup); null
// when it waits for work.
void thread_set_task(const void* task);

struct thread_view {
    std::string role;
    std::string activity;  // "" while waiting
    double seconds = 0;    // in the activity so far
};
// The registered threads, oldest first.
std::vector<thread_view> thread_snapshot();

// Sets the calling thread's activity for the scope, then clears it.
class thread_activity {
public:
    explicit thread_activity(const char* what) { thread_set_activity(what); }
    ~thread_activity() { thread_set_activity(nullptr); }
    thread_activity(const thread_activity&) = delete;
    thread_activity& operator=(const thread_activity&) = delete;
};

}  // namespace vek

#endif
