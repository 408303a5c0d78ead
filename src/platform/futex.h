// Waiting on and waking a 32-bit lock word (Linux futexes), the blocking
// half of the library's own mutex.
#ifndef VEK_PLATFORM_FUTEX_H
#define VEK_PLATFORM_FUTEX_H

#include <atomic>

namespace vek {
namespace platform {

// Sleeps while *word == expected; may return early (signals, spurious
// wake-ups), so callers test the word again.
void futex_wait(std::atomic<int>* word, int expected);
// Wakes one thread sleeping on `word`.
void futex_wake_one(std::atomic<int>* word);

}  // namespace platform
}  // namespace vek

#endif
