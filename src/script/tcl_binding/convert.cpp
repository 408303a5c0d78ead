// Converting Tcl arguments for the operations, and the messages of a
// failed conversion.
//
// Object arguments take a handle, "NULL" or the name of an object command.
// An interface handle must be one the package handed out as exactly that
// type, and not seen released since, before the object is read at all: in
// a thread with an engine, one the engine handed out (the core's and the
// engine's own excepted), whose object must also pass vek_tcl_test_object;
// elsewhere, one in the process-wide index.
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "script/script_tracking.h"
#include "script/tcl_binding/handle_index.h"
#include "script/tcl_binding/runtime.h"
#include "vek/core.h"
#include "vek/script.h"

namespace vek {
namespace tcl {
namespace {

const char* error_name(int code)
{
    switch (code) {
        case -12:
            return "MemoryError";
        case -11:
            return "AttributeError";
        case -10:
            return "SystemError";
        case -9:
            return "ValueError";
        case -8:
            return "SyntaxError";
        case -7:
            return "OverflowError";
        case -6:
            return "ZeroDivisionError";
        case -5:
            return "TypeError";
        case -4:
            return "IndexError";
        case -2:
            return "IOError";
        default:
            return "RuntimeError";
    }
}

// The pointer and type a word names: a handle, or an object command
// (ours by its record, another binding's by its "cget -this").
bool resolve_handle(Tcl_Interp* interp, Tcl_Obj* arg, void** ptr, const type_info** type)
{
    int len = 0;
    const char* text = Tcl_GetStringFromObj(arg, &len);
    if (parse_handle(text, static_cast<std::size_t>(len), ptr, type)) return true;
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, text, &info)) return false;
    if (info.objProc == object_cmd) {
        auto* inst = static_cast<instance*>(info.objClientData);
        *ptr = inst->ptr;
        *type = inst->type;
        return true;
    }
    Tcl_Obj* words[3] = {arg, Tcl_NewStringObj("cget", 4), Tcl_NewStringObj("-this", 5)};
    for (Tcl_Obj* w : words) Tcl_IncrRefCount(w);
    bool ok = false;
    if (Tcl_EvalObjv(interp, 3, words, 0) == TCL_OK) {
        Tcl_Obj* result = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(result);
        const char* h = Tcl_GetStringFromObj(result, &len);
        ok = parse_handle(h, static_cast<std::size_t>(len), ptr, type);
        Tcl_DecrRefCount(result);
    }
    Tcl_ResetResult(interp);
    for (Tcl_Obj* w : words) Tcl_DecrRefCount(w);
    return ok;
}

// True when the handle (`ptr`, `type`) is `obj` as T (named `t_name`) or
// as i_object.
template <class T>
bool is_as(const void* ptr, const type_info* type, T* obj, const char* t_name)
{
    if (obj == nullptr) return false;
    if (ptr == static_cast<const void*>(obj)) return std::strcmp(type->name, t_name) == 0;
    return ptr == static_cast<const void*>(static_cast<i_object*>(obj)) &&
           std::strcmp(type->name, "_p_vek__i_object") == 0;
}

// The object behind an interface handle when the thread's tracking may
// vouch for it; null when it never handed out that pointer as that type.
i_object* vouched_object(script_tracking* tracking, void* ptr, const type_info* type)
{
    i_object* obj = tracking->handle_object(ptr, type);
    if (obj != nullptr) return obj;
    // The core and the engine are never counted, and scripts keep their
    // handles across recycling: known as themselves (or as i_object) only.
    if (!is_as(ptr, type, vek_core(), "_p_vek__i_core") &&
        !is_as(ptr, type, tracking->owner(), "_p_vek__i_script_engine")) {
        return nullptr;
    }
    return type->to_object(ptr);
}

// Where an out-parameter the script passed as "NULL" is written: scripts
// cannot read it, and the operations need not accept null there.
thread_local void* t_scratch = nullptr;

int convert_object(Tcl_Interp* interp, const param_def& param, Tcl_Obj* arg, value* out)
{
    out->p = nullptr;
    int len = 0;
    const char* text = Tcl_GetStringFromObj(arg, &len);
    if (len == 4 && std::memcmp(text, "NULL", 4) == 0) {
        if (param.k == kind::voidpp) out->p = &t_scratch;
        return err_ok;
    }
    void* ptr = nullptr;
    const type_info* type = nullptr;
    if (!resolve_handle(interp, arg, &ptr, &type)) return err_type;
    return convert_resolved(param, ptr, type, out);
}

}  // namespace

int convert_resolved(const param_def& param, void* ptr, const type_info* type, value* out)
{
    out->p = nullptr;
    if (ptr == nullptr) return err_ok;

    // Interface handles are looked up before anything is read; data
    // pointers carry no size, so no check could make them safe.
    script_tracking* tracking = nullptr;
    i_object* obj = nullptr;
    if (type->cls != nullptr) {
        tracking = script_tracking::current();
        obj = tracking != nullptr ? vouched_object(tracking, ptr, type) : shared_find(ptr, type);
        if (obj == nullptr) return err_type;
    }
    if (param.k == kind::data) {
        // Data buffers: void and char pointers only.
        if (type != param.type && std::strcmp(type->name, "_p_char") != 0) return err_type;
        out->p = ptr;
        return err_ok;
    }
    if (!convert_pointer(type, ptr, param.type, &out->p)) return err_type;
    // An object the thread counts itself is known; anything else may be
    // a stand-in, which the test resolves.
    if (tracking != nullptr && param.type->cls != nullptr && !tracking->counts(obj) && !vek_tcl_test_object(obj)) {
        return err_type;
    }
    return err_ok;
}

namespace {

// Tcl reads integers up to 2^64-1 as wide integers, wrapped; those above
// the signed range are held as bignums (a type Tcl does not register, so
// it is known by its name), which tells them apart.
bool wide_int(Tcl_Obj* arg, Tcl_WideInt* w)
{
    if (Tcl_GetWideIntFromObj(nullptr, arg, w) != TCL_OK) return false;
    return arg->typePtr == nullptr || std::strcmp(arg->typePtr->name, "bignum") != 0;
}

bool is_negative_text(const char* s)
{
    while (*s == ' ' || *s == '\t' || *s == '\n') ++s;
    return *s == '-';
}

int convert_signed(Tcl_Obj* arg, long long lo, long long hi, value* out)
{
    Tcl_WideInt w = 0;
    if (!wide_int(arg, &w)) {
        const char* s = Tcl_GetString(arg);
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(s, &end, 0);
        if (end == s || *end != 0) return err_type;
        if (errno == ERANGE) return err_overflow;
        w = v;
    }
    if (w < lo || w > hi) return err_overflow;
    out->i = w;
    return err_ok;
}

int convert_unsigned(Tcl_Obj* arg, unsigned long long hi, value* out)
{
    Tcl_WideInt w = 0;
    if (wide_int(arg, &w) && w >= 0) {
        if (static_cast<unsigned long long>(w) > hi) return err_overflow;
        out->u = static_cast<unsigned long long>(w);
        return err_ok;
    }
    const char* s = Tcl_GetString(arg);
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, 0);
    if (end == s || *end != 0) return err_type;
    if (errno == ERANGE || is_negative_text(s) || v > hi) return err_overflow;
    out->u = v;
    return err_ok;
}

}  // namespace

int convert_arg(Tcl_Interp* interp, const param_def& param, Tcl_Obj* arg, value* out)
{
    switch (param.k) {
        case kind::b: {
            int v = 0;
            if (Tcl_GetBooleanFromObj(nullptr, arg, &v) != TCL_OK) return err_type;
            out->b = v != 0;
            return err_ok;
        }
        case kind::i32:
            return convert_signed(arg, INT_MIN, INT_MAX, out);
        case kind::i64:
            return convert_signed(arg, LLONG_MIN, LLONG_MAX, out);
        case kind::u8:
            return convert_unsigned(arg, UCHAR_MAX, out);
        case kind::u16:
            return convert_unsigned(arg, USHRT_MAX, out);
        case kind::u32:
            return convert_unsigned(arg, UINT_MAX, out);
        case kind::u64:
            return convert_unsigned(arg, ULLONG_MAX, out);
        case kind::f32:
        case kind::f64: {
            double d = 0;
            if (Tcl_GetDoubleFromObj(nullptr, arg, &d) != TCL_OK) return err_type;
            if (param.k == kind::f32 && (d > FLT_MAX || d < -FLT_MAX)) return err_overflow;
            out->d = d;
            return err_ok;
        }
        case kind::text:
            out->s = Tcl_GetString(arg);
            return err_ok;
        case kind::owned_text: {
            int len = 0;
            const char* s = Tcl_GetStringFromObj(arg, &len);
            out->hs = static_cast<char*>(std::malloc(static_cast<std::size_t>(len) + 1));
            if (out->hs == nullptr) return -12;
            std::memcpy(out->hs, s, static_cast<std::size_t>(len) + 1);
            return err_ok;
        }
        case kind::utf16:
            static_assert(sizeof(Tcl_UniChar) == sizeof(char16_t), "Tcl_UniChar is UTF-16 here");
            out->w = reinterpret_cast<const char16_t*>(Tcl_GetUnicode(arg));
            return err_ok;
        case kind::handler_fn: {
            // A member function cannot cross as a handle: only "NULL".
            out->p = nullptr;
            return std::strcmp(Tcl_GetString(arg), "NULL") == 0 ? err_ok : err_type;
        }
        case kind::object:
        case kind::data:
        case kind::voidp:
        case kind::voidpp:
        case kind::loader:
            return convert_object(interp, param, arg, out);
        default:
            return err_type;
    }
}

int conversion_error(Tcl_Interp* interp, int code, const char* cmd, int argno, const char* decl)
{
    const char* name = error_name(code);
    std::string text =
        std::string(name) + " in method '" + cmd + "', argument " + std::to_string(argno) + " of type '" + decl + "'";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    Tcl_SetErrorCode(interp, "SWIG", name, nullptr);
    return TCL_ERROR;
}

}  // namespace tcl
}  // namespace vek
