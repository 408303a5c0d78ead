#include "object/thread_count.h"

#include <atomic>

namespace vek {

namespace {
std::atomic<int> g_running_threads(0);
}

void thread_count_add()
{
    g_running_threads.fetch_add(1, std::memory_order_relaxed);
}

void thread_count_sub()
{
    g_running_threads.fetch_sub(1, std::memory_order_acq_rel);
}

int thread_count_get()
{
    return g_running_threads.load(std::memory_order_acquire);
}

}  // namespace vek
