#include "core/process_state.h"

#include <atomic>
#include <cstring>

#include "platform/thread.h"
#include "vek/core.h"

namespace vek {

namespace {
std::atomic<bool> g_running(false);
std::atomic<bool> g_entered(false);
std::atomic<int> g_max_threads(150);
std::atomic<long long> g_next_id(1);
char g_temp_path[1024];
}  // namespace

void set_running(bool running)
{
    g_running.store(running);
}

bool library_entered()
{
    return g_entered.load(std::memory_order_acquire);
}

void set_library_entered()
{
    g_entered.store(true, std::memory_order_release);
}

int max_thread_count()
{
    return g_max_threads.load(std::memory_order_relaxed);
}

void set_max_thread_count(int count)
{
    g_max_threads.store(count, std::memory_order_relaxed);
}

void set_temp_path(const char* path)
{
    std::strncpy(g_temp_path, path, sizeof(g_temp_path) - 1);
    g_temp_path[sizeof(g_temp_path) - 1] = '\0';
}

}  // namespace vek

bool vek_is_running()
{
    return vek::g_running.load(std::memory_order_relaxed);
}

long long vek_get_next_id()
{
    return vek::g_next_id.fetch_add(1, std::memory_order_relaxed);
}

unsigned long vek_get_thread_id()
{
    return vek::platform::thread_id();
}

const char* vek_temp_path()
{
    return vek::g_temp_path;
}

void vek_release(vek::i_object* obj)
{
    if (obj != nullptr) obj->release();
}
