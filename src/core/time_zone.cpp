#include "core/time_zone.h"

#include <atomic>
#include <ctime>

#include "platform/clock.h"

namespace vek {

namespace {
std::atomic<int> g_time_zone(0);
std::atomic<int> g_dst(0);
}  // namespace

void refresh_time_zone(unsigned int now)
{
    std::tm local;
    if (platform::local_time(static_cast<std::time_t>(now), &local)) {
        g_dst.store(local.tm_isdst > 0 ? local.tm_isdst : 0, std::memory_order_relaxed);
    }
    g_time_zone.store(static_cast<int>(platform::standard_utc_offset()), std::memory_order_relaxed);
}

int local_time_zone()
{
    return g_time_zone.load(std::memory_order_relaxed);
}

int time_zone_dst()
{
    return g_dst.load(std::memory_order_relaxed);
}

}  // namespace vek
