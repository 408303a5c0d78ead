// Scripting: the services that run and protect the framework's Tcl scripts.
//
// The script service ("svc_script", vek/script/service.h) gives every
// thread its own script engine (vek/script/engine.h): one Tcl interpreter
// that runs text, files and script code inside the namespace "vek". Script
// files are cached per engine (vek/script/script_file.h), and encrypted
// ones are read through the encryptor ("svc_encrypt",
// vek/script/encryptor.h). The library is also the Tcl package "vek_core",
// whose tracking hooks every framework binding shares (vek/script/tcl.h).
//
// Thread safety: i_encryptor, i_script_service and script_service are safe
// for concurrent use. i_script_engine belongs to the thread that got it.
// i_script_code and script_file are one thread at a time, and script code
// works only in the thread that created it. Each header says more.
//
// Lock order: the service lock, then the process-wide init-script lock.
#ifndef VEK_SCRIPT_H
#define VEK_SCRIPT_H

#include "vek/script/encryptor.h"
#include "vek/script/engine.h"
#include "vek/script/script_file.h"
#include "vek/script/service.h"
#include "vek/script/tcl.h"

#endif
