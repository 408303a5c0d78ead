// Writing a module: the functions a shared library exports so that
// i_core::load_library takes it in as a library.
//
// A module defines its entry functions with VEK_MODULE_EXPORT, which gives
// them plain unmangled names and keeps them visible when the module is
// built with hidden visibility. The declarations below make the compiler
// reject a definition whose signature differs from them. Any other
// function a module exports by name (a Tcl extension's init function, a C
// entry point for other modules) uses the same macro.
//
// A module is a library when it exports at least vek_library_entry and
// vek_library_initialized; without either it is loaded and its handle
// returned, but it is not listed and no event is fired. load_library
// calls the entry once per successful load, in the thread that loads it,
// after "VEK_CORE_EVT_LOAD_LIBRARY" was delivered, and then asks whether
// the module is ready; "VEK_CORE_EVT_POST_LOAD_LIBRARY" follows only when
// it is. An exception thrown by either function fails the load.
//
// Thread safety: the core calls the entry functions of one module from one
// thread at a time.
#ifndef VEK_MODULE_H
#define VEK_MODULE_H

#define VEK_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

// Registers the module's services and installs its handlers.
VEK_MODULE_EXPORT void vek_library_entry();
// Called right after the entry: true when the module is ready.
VEK_MODULE_EXPORT bool vek_library_initialized();
// Optional. The module's name: what vek_library_loaded looks for, and
// what the script service derives the Tcl extension's init function
// ("Name_Init") and init script ("name_init.tcl") from. Read at each use;
// the core copies it.
VEK_MODULE_EXPORT const char* vek_library_name();
// Optional. The module's version text, read once when it loads.
VEK_MODULE_EXPORT const char* vek_library_version();

// The entry functions as the loader finds them by name.
typedef void (*vek_library_entry_fn)();
typedef bool (*vek_library_initialized_fn)();
typedef const char* (*vek_library_name_fn)();
typedef const char* (*vek_library_version_fn)();

#endif
