#include "platform/futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vek {
namespace platform {

static_assert(sizeof(std::atomic<int>) == sizeof(int), "a lock word must be a plain int");

// The lock words are private to the process.
void futex_wait(std::atomic<int>* word, int expected)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void futex_wake_one(std::atomic<int>* word)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace platform
}  // namespace vek
