// A service of a core started once for the whole fuzzing run, with tracing
// off. The core keeps its services alive, so the pointer stays valid and
// the caller releases nothing.
#ifndef VEK_FUZZ_CORE_SERVICE_H
#define VEK_FUZZ_CORE_SERVICE_H

#include <cstdlib>

#include <vek/vek_core.h>

inline vek::i_object* core_service(const char* name)
{
    static const bool started = [] {
        vek_enable_trace(false);
        setenv("VEK_ROOT_PATH", "/tmp", 1);
        return vek_initialize();
    }();
    if (!started) std::abort();
    vek::i_object* svc = vek_core()->get_service(name);
    if (svc == nullptr) std::abort();
    svc->release();
    return svc;
}

#endif
