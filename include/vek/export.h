// Symbol visibility for the public API of vek_core.
//
// The library is built with hidden visibility; only declarations marked
// VEK_API are exported from vek_core.so. Host programs and modules see the
// same macro and import those names.
#ifndef VEK_EXPORT_H
#define VEK_EXPORT_H

#if defined(_WIN32)
#if defined(VEK_CORE_BUILD)
#define VEK_API __declspec(dllexport)
#else
#define VEK_API __declspec(dllimport)
#endif
#else
#define VEK_API __attribute__((visibility("default")))
#endif

// The library's own name and version, as its module entry reports them.
#define VEK_CORE_LIBRARY_NAME "vek_core"
#define VEK_CORE_LIBRARY_VERSION "3.18.0152"

#endif
