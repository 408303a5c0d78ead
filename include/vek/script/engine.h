// Script engines: one Tcl interpreter per thread, and script code compiled
// once for it.
//
// An engine runs text, files and script code inside the Tcl namespace
// "vek", where the prelude defines vek_script_engine (the engine's own
// command) and replaces puts (output goes to the engine's buffer, only the
// first argument is printed, no line end is added) and source (files load
// through execute_file). A script error is logged as "Script error on line
// %d: %s" and makes the engine stale: once its last user releases it, its
// thread gets a fresh one. The error line is Tcl's, counted inside the
// wrapping "namespace eval vek {" block, so any error in wrapped text
// reports line 1. An error that leaves an empty result counts as success.
// The last release of an engine by its users recycles it: the namespace
// goes, with the variables and commands scripts made, and the references
// scripts held are released.
//
// Thread safety: i_script_engine belongs to the thread that got it: other
// threads are refused (false, 0 or ""), except that puts_impl, get_output,
// reset and get_registration_object do not check. i_script_code is one
// thread at a time and works only in the thread that created it.
#ifndef VEK_SCRIPT_ENGINE_H
#define VEK_SCRIPT_ENGINE_H

#include "vek/export.h"
#include "vek/object/base.h"

struct Tcl_Obj;
struct Tcl_Interp;
struct Tcl_Command_;
typedef struct Tcl_Command_* Tcl_Command;

namespace vek {

class script_engine;

// Reads a script file for an engine. Heap text: caller frees with free();
// null on failure.
typedef char* (*vek_script_file_load_function)(const char* path, const void* fparam);

// Tcl text compiled once and run many times in the thread that made it.
class VEK_API i_script_code : public virtual i_object {
public:
    // The thread that created the code.
    virtual unsigned int get_thread_id() = 0;
    // Replaces the code. False for null text or another thread.
    virtual bool set_text(const char* text) = 0;
    // No reference added: the compiled Tcl object, owned by the code; null
    // in other threads.
    virtual Tcl_Obj* get_compiled_code() = 0;

protected:
    ~i_script_code() = default;
};

class VEK_API i_script_engine : public virtual i_object {
public:
    // Runs `code` inside the namespace vek.
    virtual bool execute_text(const char* code) = 0;
    // Runs a file through the engine's file cache; `func` and `fparam`
    // replace the built-in loader (which also reads encrypted files).
    virtual bool execute_file(const char* path, vek_script_file_load_function func = nullptr,
                              const void* fparam = nullptr) = 0;
    // False for null code or code of another thread.
    virtual bool execute_code(i_script_code* code) = 0;
    // Sets the variable vek::`obj_name` to the object's command, or with
    // `cast_func` (a cast command such as vek_cast_i_string) to the cast
    // command's result.
    virtual bool register_object(i_object* obj, const char* obj_name, const char* cast_func) = 0;
    // Owned by the engine, valid until the next output or reset: what
    // scripts printed.
    virtual const char* get_output() = 0;
    // Owned by the interpreter, valid until the next evaluation or reset:
    // the last result (the whole error message after a failure).
    virtual const char* get_error() = 0;
    virtual int get_error_line() = 0;
    virtual void reset() = 0;
    virtual void puts_impl(const char* text) = 0;
    // New reference: caller releases. The object register_object is
    // registering; null outside it.
    virtual i_object* get_registration_object() = 0;

protected:
    ~i_script_engine() = default;
};

}  // namespace vek

VEK_API vek::i_script_engine* vek_cast_i_script_engine(vek::i_object* obj);
VEK_API vek::i_script_code* vek_cast_i_script_code(vek::i_object* obj);
// New reference: caller releases. Code for `text` wrapped in the namespace
// vek, usable in the calling thread only; null for null text.
VEK_API vek::i_script_code* vek_create_script_code(const char* text);

#endif
