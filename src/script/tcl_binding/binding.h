// The data the Tcl package is made of, and the runtime that interprets it.
//
// scripts/gen_tcl_binding.tcl writes the tables (types, class records,
// commands with their call shims) from binding_table.tcl; everything a
// script can see besides names and format strings (handles, conversions,
// messages, object and class commands, tracking) is the runtime's.
#ifndef VEK_SCRIPT_TCL_BINDING_BINDING_H
#define VEK_SCRIPT_TCL_BINDING_BINDING_H

#include <tcl.h>

#include <string>

#include "vek/object.h"

namespace vek {
namespace tcl {

// How a parameter or result crosses between Tcl and C++.
enum class kind : unsigned char {
    none,  // void result
    b,     // bool
    i32,   // int
    u8,    // unsigned char
    u16,   // unsigned short
    u32,   // unsigned int
    i64,   // long, long long
    u64,   // unsigned long, unsigned long long
    f32,   // float
    f64,   // double
    text,
    heap_text,   // char* result the caller frees
    owned_text,  // char* parameter the operation keeps (a malloc'ed copy)
    utf16,
    heap_utf16,
    data,    // void const *: a pointer handle
    voidp,   // void *
    voidpp,  // void **
    loader,  // script file loader function
    handler_fn,
    tclobj,  // Tcl_Obj * result: the result itself
    object,
};

// One converted argument or result. Object arguments hold the pointer
// already converted to the parameter's interface.
union value {
    bool b;
    long long i;
    unsigned long long u;
    double d;
    const char* s;
    char* hs;
    void* p;
    const char16_t* w;
    char16_t* hw;
};

// A shim: calls the operation with a[0..n-1] (n counts the arguments the
// script gave, defaults fill the rest) and stores its result in *r.
using call_fn = void (*)(value* a, int n, value* r);

struct type_info;
struct class_record;
struct command_def;

struct base_link {
    const type_info* base;
    void* (*up)(void* p);
};

struct type_info {
    const char* name;  // the handle's type part, "_p_vek__i_string"
    const char* decl;  // as messages name it, "vek::i_string *"
    const class_record* cls;
    i_object* (*to_object)(void* p);  // null for non-interfaces
    const base_link* bases;           // every base, nearest first
    int base_count;
};

struct method_entry {
    const char* name;
    const command_def* cmd;
};

struct class_record {
    const char* name;
    const type_info* type;
    const method_entry* methods;
    int method_count;
    const class_record* const* bases;  // direct bases, declaration order
    int base_count;
};

struct param_def {
    kind k;
    const type_info* type;  // object, data, voidp, voidpp, loader, handler_fn
    const char* decl;       // as messages name the parameter's type
};

enum class family : unsigned char { method, function, cast, del, cls };

enum result_hook : unsigned char {
    hook_none = 0,
    hook_owned = 1,  // the script takes over the returned reference
    hook_cast = 2,   // the new command is bound to the object, uncounted
};

struct command_def {
    const char* name;
    const char* format;
    family fam;
    const param_def* params;  // self first for methods
    int param_count;
    int required;  // parameters without defaults
    bool varargs;
    kind result;
    const type_info* result_type;
    result_hook hook;
    call_fn call;
    // An overload set: the variants by argument count, no call of its own.
    const command_def* const* overloads;
    int overload_count;
    const class_record* cls;  // class commands
};

// Generated tables.
extern const type_info k_types[];
extern const int k_type_count;
extern const command_def* const k_commands[];
extern const int k_command_count;

// The runtime.

// Runs a command of the table for `objc` words (objv[0] the command name).
int run_command(const command_def& def, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);

// vek_release_orig: a plain release. When it destroys the object, no
// handle of it is accepted again, in any thread.
void plain_release(i_object* obj);

// `msg` with its first directive printed for a null argument and every
// later directive (and %n) kept as text, ready for a "%s" format.
std::string null_filled(const char* msg);

}  // namespace tcl
}  // namespace vek

#endif
