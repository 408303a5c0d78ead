// Running a command of the table: argument count, conversion, the call,
// and the result.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "script/tcl_binding/runtime.h"

namespace vek {
namespace tcl {
namespace {

constexpr int k_max_params = 16;

const char k_few[] = "Wrong number of arguments ";
const char k_many[] = "Wrong # args.";

// `msg`, the format string from its colon (or semicolon) on, " argument "
// and the number of the argument reached.
int count_error(Tcl_Interp* interp, const char* msg, const char* format, int argno)
{
    const char* tail = std::strpbrk(format, ":;");
    std::string text = std::string(msg) + (tail != nullptr ? tail : "") + " argument " + std::to_string(argno);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

int null_self(Tcl_Interp* interp)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(k_null_message, -1));
    return TCL_ERROR;
}

void free_owned(const command_def& def, value* a, int count)
{
    for (int i = 0; i < count; ++i) {
        if (def.params[i].k == kind::owned_text) std::free(a[i].hs);
    }
}

Tcl_Obj* text_obj(const char* text)
{
    return Tcl_NewStringObj(text != nullptr ? text : "", -1);
}

int set_result(Tcl_Interp* interp, const command_def& def, value& r)
{
    char buf[32];
    switch (def.result) {
        case kind::none:
            Tcl_ResetResult(interp);
            break;
        case kind::b:
            Tcl_SetObjResult(interp, Tcl_NewBooleanObj(r.b));
            break;
        case kind::i32:
            Tcl_SetObjResult(interp, Tcl_NewIntObj(static_cast<int>(r.i)));
            break;
        case kind::i64:
            Tcl_SetObjResult(interp, Tcl_NewWideIntObj(r.i));
            break;
        case kind::u8:
        case kind::u16:
            Tcl_SetObjResult(interp, Tcl_NewIntObj(static_cast<int>(r.u)));
            break;
        case kind::u32:
            if (r.u >= 0x7FFFFFFFu) {
                std::snprintf(buf, sizeof buf, "%lu", static_cast<unsigned long>(r.u));
                Tcl_SetObjResult(interp, Tcl_NewStringObj(buf, -1));
            } else {
                Tcl_SetObjResult(interp, Tcl_NewIntObj(static_cast<int>(r.u)));
            }
            break;
        case kind::u64:
            if (r.u > 0x7FFFFFFFFFFFFFFFull) {
                std::snprintf(buf, sizeof buf, "%llu", r.u);
                Tcl_SetObjResult(interp, Tcl_NewStringObj(buf, -1));
            } else {
                Tcl_SetObjResult(interp, Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(r.u)));
            }
            break;
        case kind::f32:
        case kind::f64:
            Tcl_SetObjResult(interp, Tcl_NewDoubleObj(r.d));
            break;
        case kind::text:
            Tcl_SetObjResult(interp, text_obj(r.s));
            break;
        case kind::heap_text:
            Tcl_SetObjResult(interp, text_obj(r.hs));
            std::free(r.hs);
            break;
        case kind::heap_utf16:
            if (r.hw != nullptr) {
                Tcl_SetObjResult(interp, Tcl_NewUnicodeObj(reinterpret_cast<const Tcl_UniChar*>(r.hw), -1));
                std::free(r.hw);
            } else {
                Tcl_ResetResult(interp);
            }
            break;
        case kind::tclobj:
            if (r.p != nullptr) {
                Tcl_SetObjResult(interp, static_cast<Tcl_Obj*>(r.p));
            } else {
                Tcl_ResetResult(interp);
            }
            break;
        case kind::object:
        case kind::voidp:
            set_object_result(interp, r.p, *def.result_type, def.hook);
            break;
        default:
            Tcl_ResetResult(interp);
            break;
    }
    return TCL_OK;
}

// True when every argument converts for `def`; frees what it converted.
bool convertible(const command_def& def, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc - 1 != def.param_count) return false;
    value a[k_max_params];
    for (int i = 0; i < def.param_count; ++i) {
        if (convert_arg(interp, def.params[i], objv[i + 1], &a[i]) != err_ok) {
            free_owned(def, a, i);
            return false;
        }
    }
    free_owned(def, a, def.param_count);
    Tcl_ResetResult(interp);
    return true;
}

// Checks the count, converts, calls and sets the result. `self`, when
// given, is the object of the object command that called.
int run_plain(const command_def& def, const instance* self, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    int given = objc - 1;
    if (given < def.required) return count_error(interp, k_few, def.format, given + 1);
    if (!def.varargs && given > def.param_count) return count_error(interp, k_many, def.format, def.param_count + 1);
    bool method = def.fam == family::method;
    if (method && self == nullptr && std::strcmp(Tcl_GetString(objv[1]), "NULL") == 0) return null_self(interp);

    int count = given < def.param_count ? given : def.param_count;
    value a[k_max_params];
    for (int i = 0; i < count; ++i) {
        int rc = i == 0 && self != nullptr ? convert_resolved(def.params[0], self->ptr, self->type, &a[0])
                                           : convert_arg(interp, def.params[i], objv[i + 1], &a[i]);
        if (rc != err_ok) {
            free_owned(def, a, i);
            return conversion_error(interp, rc, def.name, i + 1, def.params[i].decl);
        }
    }
    if (method && a[0].p == nullptr) {
        free_owned(def, a, count);
        return null_self(interp);
    }
    value r;
    r.u = 0;
    def.call(a, count, &r);
    return set_result(interp, def, r);
}

int run_overloaded(const command_def& def, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    for (int i = 0; i < def.overload_count; ++i) {
        if (convertible(*def.overloads[i], interp, objc, objv)) {
            return run_command(*def.overloads[i], interp, objc, objv);
        }
    }
    std::string text = std::string("No matching function for overloaded '") + def.name + "'";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

}  // namespace

const char k_null_message[] = "Invalid operation over 'NULL' object ";

int run_command(const command_def& def, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (def.overload_count > 0) return run_overloaded(def, interp, objc, objv);
    if (def.fam == family::cls) return class_command(def, interp, objc, objv);
    return run_plain(def, nullptr, interp, objc, objv);
}

int run_method(const command_def& def, const instance& self, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (def.overload_count > 0) return run_overloaded(def, interp, objc, objv);
    return run_plain(def, &self, interp, objc, objv);
}

std::string null_filled(const char* msg)
{
    std::string out;
    if (msg == nullptr) return out;
    bool filled = false;
    for (const char* p = msg; *p != 0;) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            p += 2;
            continue;
        }
        // One directive: flags, width, precision, length, conversion.
        const char* end = p + 1;
        while (*end != 0 && std::strchr("-+ #0'123456789.hlLqjzt", *end) != nullptr) ++end;
        if (*end == 0 || filled || *end == 'n') {
            // Later directives, %n and a cut-off one stay as they are.
            const char* stop = *end != 0 ? end + 1 : end;
            out.append(p, stop);
            p = stop;
            continue;
        }
        filled = true;
        char conv = *end;
        std::string directive;
        for (const char* c = p; c < end; ++c) {
            if (std::strchr("hlLqjzt", *c) == nullptr) directive += *c;
        }
        directive += conv;
        char buf[256] = "";
        if (conv == 's' || conv == 'p') {
            std::snprintf(buf, sizeof buf, directive.c_str(), static_cast<void*>(nullptr));
        } else if (std::strchr("diouxXc", conv) != nullptr) {
            std::snprintf(buf, sizeof buf, directive.c_str(), 0);
        } else if (std::strchr("eEfFgGaA", conv) != nullptr) {
            std::snprintf(buf, sizeof buf, directive.c_str(), 0.0);
        } else {
            std::snprintf(buf, sizeof buf, "%s", directive.c_str());
        }
        out += buf;
        p = end + 1;
    }
    return out;
}

}  // namespace tcl
}  // namespace vek
