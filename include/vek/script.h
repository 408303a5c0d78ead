// Scripting: the services that run and protect the framework's Tcl scripts.
//
// The script service ("svc_script") gives every thread its own script
// engine: one Tcl interpreter, built on the thread's first request, reused
// while the thread lives and destroyed when it ends. An engine runs text,
// files and script code inside the Tcl namespace "vek", where the prelude
// defines vek_script_engine (the engine's own command) and replaces puts
// (output goes to the engine's buffer, only the first argument is printed,
// no line end is added) and source (files load through execute_file). A
// script error is logged as "Script error on line %d: %s" and makes the
// engine stale: once its last user releases it, its thread gets a fresh
// one. The error line is Tcl's, counted inside the wrapping "namespace eval
// vek {" block, so any error in wrapped text reports line 1. An error that
// leaves an empty result counts as success. The last release of an engine
// by its users recycles it: the namespace goes, with the variables and
// commands scripts made, and the references scripts held are released.
//
// Script files are cached per engine and reread only when their whole-
// second modification time changes. A file that starts with "VEKENCF73\n"
// is Base64 of an encryptor ciphertext (method '2') under a key derived
// from the file's own name, so it reads back only under that name.
//
// The area also holds the encryptor (service "svc_encrypt") that protects
// encrypted script files. The encryptor turns byte blocks and texts into
// ciphertexts and back under a caller's key with one of three methods:
// '0' copies the bytes, '1' is the FROG block cipher (16-byte blocks, keys
// of 5 to 125 bytes), '2' is TEA (8-byte blocks, any key, used 16 bytes at
// a time). A ciphertext of methods '1' and '2' is the plaintext length n as
// 4 big-endian bytes, then floor(n / block) + 1 blocks of the zero-padded
// plaintext in ECB mode, then zero bytes up to n + 20 ('1') or n + 12
// ('2') bytes in all. A wrong key is not detected: it decrypts to garbage.
//
// Thread safety: i_encryptor is safe for concurrent use (it keeps no state
// between calls). i_script_service and script_service are safe for
// concurrent use. i_script_engine belongs to the thread that got it: other
// threads are refused (false, 0 or ""), except that puts_impl, get_output,
// reset and get_registration_object do not check. i_script_code and
// script_file are one thread at a time, and script code works only in the
// thread that created it.
//
// Lock order: the service lock, then the process-wide init-script lock.
#ifndef VEK_SCRIPT_H
#define VEK_SCRIPT_H

#include "vek/core.h"
#include "vek/events.h"
#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/binary.h"
#include "vek/object/collection.h"
#include "vek/object/sync.h"
#include "vek/status.h"

#include <map>

struct Tcl_Obj;
struct Tcl_Interp;
struct Tcl_Command_;
typedef struct Tcl_Command_* Tcl_Command;

namespace vek {

class VEK_API i_encryptor : public virtual i_object {
public:
    // New reference: caller releases. The ciphertext of the `data_size`
    // bytes under `method` ('0', '1' or '2'); null for null or empty data
    // or key, an unknown method, a FROG key outside 5 to 125 bytes, or no
    // memory.
    virtual i_binary* encrypt(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                              unsigned char method) = 0;
    // New reference: caller releases. The plaintext of a ciphertext made by
    // encrypt; null as for encrypt, and for a ciphertext shorter than one
    // block plus 5 bytes or whose length field exceeds its data.
    virtual i_binary* decrypt(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                              unsigned char method) = 0;
    // Heap text: caller frees with free(). Base64 of the ciphertext of the
    // text with its terminator, under the key text with its terminator;
    // null on failure.
    virtual const char* encrypt_string(const char* data, const char* key, unsigned char method) = 0;
    // Heap text: caller frees with free(). The text that encrypt_string
    // encrypted; null on failure, including a plaintext that does not end
    // in a zero byte (most wrong keys).
    virtual const char* decrypt_string(const char* data, const char* key, unsigned char method) = 0;

protected:
    ~i_encryptor() = default;
};

class script_engine;
class script_service;

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

// An object that stands for another one before scripts: the script
// engine tracks the object it names instead of itself.
class VEK_API i_script_object_subsitutor : public virtual i_object {
public:
    // New reference: caller releases. The object this one stands for; null
    // when there is none.
    virtual i_object* get_object_pointer() = 0;

protected:
    ~i_script_object_subsitutor() = default;
};

class VEK_API i_script_service : public virtual i_object {
public:
    // New reference: caller releases. The calling thread's engine; null
    // when no interpreter could be built (the next call tries again).
    virtual i_script_engine* get_script_engine() = 0;
    // Adds a file that runs in every engine before it is handed out. The
    // calling thread's engine runs it at once; the others are rebuilt.
    virtual bool add_init_file(const char* file_path) = 0;
    // Adds Tcl text that runs globally in every new interpreter. The
    // calling thread's engine runs it at once; the others are rebuilt.
    virtual bool add_init_cmd(const char* cmd_text) = 0;

protected:
    ~i_script_service() = default;
};

// A script file in an engine's cache: its compiled text and the
// modification time it was read at. Answers "script_file".
class VEK_API script_file : public object {
public:
    script_file();
    // Leaks the Tcl object, with a trace line, outside the thread that
    // compiled it.
    ~script_file() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

    // No reference added: owned by the file; null before the first load
    // and after a failed reread.
    virtual Tcl_Obj* get_compiled_code();
    // Reads and compiles the file unless its modification time is
    // unchanged. A failed reread leaves no code.
    virtual bool load(const char* path, vek_script_file_load_function func, const void* fparam);
    virtual bool is_raw();
    // Owned by the file: the path of the first successful load; "" before.
    virtual const char* get_path();

private:
    Tcl_Obj* m_code;
    unsigned int m_mtime;
    bool m_raw;
    char* m_path;
    unsigned long long m_thread;
};

// The service behind "svc_script". Answers "i_script_service",
// "i_named_object", "script_service" and "i_status_source".
//
// REQUIRES for the engine table: the service's own lock. Engines run init
// commands and files while holding it and then the init-script lock.
class VEK_API script_service : public object,
                               public mutex,
                               public i_named_object_impl,
                               public virtual i_script_service,
                               public virtual i_status_source {
public:
    // Installs the handler that adds a loaded module's Tcl extension and
    // init script to every engine.
    script_service();
    // Releases the calling thread's engine; other threads' engines are left
    // to their threads' exit handlers.
    ~script_service() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;
    // <scripts>: each thread's engine, busy or idle, and the objects its
    // scripts hold.
    void add_status(i_xml_node* status) override;

    i_script_engine* get_script_engine() override;
    bool add_init_file(const char* file_path) override;
    bool add_init_cmd(const char* cmd_text) override;

    // Drops the calling thread's table entry (without releasing it) when it
    // still holds `engine`.
    virtual void forget_thread(i_script_engine* engine);

    // Owned by the service: the lists engines are built from. Read them
    // while holding the service's lock.
    i_object_col* init_files() { return m_init_files; }
    i_object_col* init_cmds() { return m_init_cmds; }

    bool on_library_loaded(i_event* evt);

private:
    void add_module_scripts(i_vek_library* lib, void* handle, const char* name);

    struct table_entry {
        script_engine* engine;
        unsigned long long serial;
    };
    object_col* m_init_files;
    object_col* m_init_cmds;
    std::map<unsigned long, table_entry> m_engines;
};

}  // namespace vek

VEK_API vek::i_encryptor* vek_cast_i_encryptor(vek::i_object* obj);
VEK_API vek::i_script_engine* vek_cast_i_script_engine(vek::i_object* obj);
VEK_API vek::i_script_service* vek_cast_i_script_service(vek::i_object* obj);
VEK_API vek::script_service* vek_cast_script_service(vek::i_object* obj);
VEK_API vek::i_script_code* vek_cast_i_script_code(vek::i_object* obj);
VEK_API vek::script_file* vek_cast_script_file(vek::i_object* obj);
// New reference: caller releases. Code for `text` wrapped in the namespace
// vek, usable in the calling thread only; null for null text.
VEK_API vek::i_script_code* vek_create_script_code(const char* text);

VEK_API vek::i_script_object_subsitutor* vek_cast_i_script_object_subsitutor(vek::i_object* obj);

// Script tracking, shared by the Tcl bindings of every framework module.
// Each works on the calling thread's script engine and does nothing
// (0, or true for the test) when the thread has none or `obj` is null. An
// object that is an i_script_object_subsitutor is replaced by the object it
// stands for; a null stand-in ends the call (0, nothing, false).
//
// Makes `token` the engine's pending command until an addref or cast binds
// it to an object.
VEK_API void vek_tcl_register_object(vek::i_object* obj, Tcl_Command token);
// Binds the pending command to `obj` without counting.
VEK_API void vek_tcl_register_cast(vek::i_object* obj);
// Counts one script reference; with `take` also adds one to the object and
// returns its addref result, else 0.
VEK_API int vek_tcl_addref(vek::i_object* obj, bool take);
// Drops one script reference (with `give_back` also the object's); at zero
// the object's commands are deleted. 0, or 1 for the engine and the core.
VEK_API int vek_tcl_release(vek::i_object* obj, bool give_back);
// vek_tcl_release(obj, true).
VEK_API int vek_release_script_object(vek::i_object* obj);
// True when the engine knows the object (a script holds it).
VEK_API bool vek_tcl_test_object(vek::i_object* obj);
// The calling thread's engine when `addr` is its address (compared, never
// dereferenced), else null. No reference added.
VEK_API vek::i_script_engine* _vek_get_script_engine(long addr);

// The Tcl package "vek_core" 0.0 (Tcl `load` finds these by name). TCL_ERROR
// for a null interpreter.
extern "C" {
VEK_API int Vek_core_Init(Tcl_Interp* interp);
VEK_API int Vek_core_SafeInit(Tcl_Interp* interp);
}

#endif
