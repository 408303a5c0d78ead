// The process-wide count of the library's live threads: every thread made
// by thread_creator and every pool thread. vek_terminate waits for it to
// reach 0.
#ifndef VEK_OBJECT_THREAD_COUNT_H
#define VEK_OBJECT_THREAD_COUNT_H

namespace vek {

void thread_count_add();
void thread_count_sub();
int thread_count_get();

}  // namespace vek

#endif
