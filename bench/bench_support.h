// Shared set-up of the benchmark programs.
#ifndef VEK_BENCH_BENCH_SUPPORT_H
#define VEK_BENCH_BENCH_SUPPORT_H

#include <vek/vek_core.h>

namespace vek_bench {

// Starts the library once per program, as a host does after loading
// vek_core: initialise, then enter it (event processor, threads, sockets).
inline void ensure_library()
{
    static bool up = [] {
        vek_enable_trace(false);
        vek_initialize();
        vek_library_entry();
        return true;
    }();
    (void)up;
}

}  // namespace vek_bench

#endif
