// The Tcl package "vek_core": the commands scripts use to reach the
// engine that runs them and the objects it hands out.
//
// An interface pointer reaches a script as a handle: "_", the pointer's 8
// bytes in memory order as lower-case hex, and the type name
// ("_p_vek__i_string"); a null pointer is "NULL". Each handle is also an
// object command, called with a method name and its arguments. Every
// object a command hands out, and every addref and release a script makes,
// is counted by the calling thread's engine, so a recycled engine can
// release what its scripts held and a handle it no longer knows is
// refused. Deleting a command never deletes its object.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "script/script_engine.h"
#include "vek/object.h"
#include "vek/script.h"

namespace vek {
namespace {

struct class_record;

struct type_info {
    const char* name;  // the handle's type suffix
    const char* decl;  // as error messages name it
    const class_record* cls;
    // The i_object part of a pointer of this type.
    i_object* (*to_object)(void* p);
};

struct method_entry {
    const char* name;
    Tcl_ObjCmdProc* fn;
};

struct class_record {
    const char* iface;
    const method_entry* methods;
    const class_record* base;
};

struct instance {
    std::string handle;
    void* ptr;
    const type_info* type;
    Tcl_Command token;
};

extern const type_info t_object, t_string, t_engine, t_code;

// ---- engine tracking -------------------------------------------------

script_engine* engine_of(Tcl_Interp* interp)
{
    script_engine* e = script_engine::current();
    return e != nullptr && e->interp() == interp ? e : nullptr;
}

int track_addref(Tcl_Interp* interp, i_object* obj, bool take)
{
    script_engine* e = engine_of(interp);
    return e != nullptr && obj != nullptr ? e->add_script_ref(obj, take) : 0;
}

int track_release(Tcl_Interp* interp, i_object* obj)
{
    script_engine* e = engine_of(interp);
    return e != nullptr && obj != nullptr ? e->drop_script_ref(obj, true) : 0;
}

bool track_known(Tcl_Interp* interp, i_object* obj)
{
    script_engine* e = engine_of(interp);
    return e == nullptr || obj == nullptr || e->knows(obj);
}

// ---- handles -------------------------------------------------------------

std::string make_handle(const void* ptr, const type_info& type)
{
    if (ptr == nullptr) return "NULL";
    unsigned char bytes[sizeof ptr];
    std::memcpy(bytes, &ptr, sizeof ptr);
    static const char hex[] = "0123456789abcdef";
    std::string h = "_";
    for (unsigned char b : bytes) {
        h += hex[b >> 4];
        h += hex[b & 15];
    }
    return h + type.name;
}

const type_info* const k_types[] = {&t_object, &t_string, &t_engine, &t_code};

int object_cmd(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);

void delete_instance(ClientData cd)
{
    auto* inst = static_cast<instance*>(cd);
    script_engine* e = script_engine::current();
    if (e != nullptr) e->forget_command(inst->token);
    delete inst;
}

// Parses a handle into its pointer and type; "NULL" gives null and no type.
bool parse_handle(Tcl_Interp* interp, const char* text, void** ptr, const type_info** type)
{
    if (std::strcmp(text, "NULL") == 0) {
        *ptr = nullptr;
        *type = nullptr;
        return true;
    }
    Tcl_CmdInfo info;
    if (Tcl_GetCommandInfo(interp, text, &info) && info.objProc == object_cmd) {
        auto* inst = static_cast<instance*>(info.objClientData);
        text = inst->handle.c_str();
    }
    constexpr std::size_t digits = 2 * sizeof(void*);
    if (text[0] != '_' || std::strlen(text) <= digits + 1) return false;
    unsigned char bytes[sizeof(void*)];
    for (std::size_t i = 0; i < digits; ++i) {
        char c = text[1 + i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0) return false;
        if (i % 2 == 0)
            bytes[i / 2] = static_cast<unsigned char>(v << 4);
        else
            bytes[i / 2] |= static_cast<unsigned char>(v);
    }
    for (const type_info* t : k_types) {
        if (std::strcmp(text + 1 + digits, t->name) == 0) {
            std::memcpy(ptr, bytes, sizeof bytes);
            *type = t;
            return true;
        }
    }
    return false;
}

// Sets the result to the handle of `ptr`, creating its object command (and
// making it the engine's pending command) when there is none yet.
void set_handle_result(Tcl_Interp* interp, void* ptr, const type_info& type)
{
    std::string h = make_handle(ptr, type);
    Tcl_CmdInfo info;
    if (ptr != nullptr && type.cls != nullptr && !Tcl_GetCommandInfo(interp, h.c_str(), &info)) {
        auto* inst = new instance{h, ptr, &type, nullptr};
        inst->token = Tcl_CreateObjCommand(interp, h.c_str(), object_cmd, inst, delete_instance);
        script_engine* e = engine_of(interp);
        if (e != nullptr) e->set_pending_command(type.to_object(ptr), inst->token);
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(h.c_str(), -1));
}

// ---- arguments -----------------------------------------------------------

int arg_error(Tcl_Interp* interp, const char* msg, const char* fmt, int argno)
{
    const char* tail = std::strchr(fmt, ':');
    if (tail == nullptr) tail = std::strchr(fmt, ';');
    if (tail == nullptr) tail = "";
    std::string text = std::string(msg) + tail + " argument " + std::to_string(argno);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

// Checks the count of arguments after the command name against `fmt`.
bool check_args(Tcl_Interp* interp, int objc, const char* fmt)
{
    int given = objc - 1, i = 0;
    bool optional = false;
    const char* c = fmt;
    for (; *c != 0 && *c != ':' && *c != ';'; ++c) {
        if (*c == '|') {
            optional = true;
            continue;
        }
        if (i >= given) {
            if (optional) return true;
            arg_error(interp, "Wrong number of arguments ", fmt, i + 1);
            return false;
        }
        ++i;
    }
    if (*c != ';' && given > i) {
        arg_error(interp, "Wrong # args.", fmt, i + 1);
        return false;
    }
    return true;
}

int type_error(Tcl_Interp* interp, const char* cmd, int argno, const char* decl)
{
    std::string text =
        std::string("TypeError in method '") + cmd + "', argument " + std::to_string(argno) + " of type '" + decl + "'";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    Tcl_SetErrorCode(interp, "SWIG", "TypeError", nullptr);
    return TCL_ERROR;
}

// Converts an object argument to `target` (i_object takes any handle). The
// i_object part goes to *obj, the typed pointer to *typed.
bool get_object(Tcl_Interp* interp, Tcl_Obj* arg, const type_info& target, i_object** obj, void** typed)
{
    void* ptr = nullptr;
    const type_info* type = nullptr;
    if (!parse_handle(interp, Tcl_GetString(arg), &ptr, &type)) return false;
    if (type == nullptr) {
        *obj = nullptr;
        *typed = nullptr;
        return true;
    }
    if (&target != &t_object && type != &target) return false;
    *obj = type->to_object(ptr);
    *typed = &target == &t_object ? static_cast<void*>(*obj) : ptr;
    return track_known(interp, *obj);
}

template <class T>
bool get_self(Tcl_Interp* interp, Tcl_Obj* const objv[], const type_info& type, const char* cmd, T** self)
{
    i_object* obj = nullptr;
    void* typed = nullptr;
    if (!get_object(interp, objv[1], type, &obj, &typed)) {
        type_error(interp, cmd, 1, type.decl);
        return false;
    }
    *self = static_cast<T*>(typed);
    return true;
}

int set_bool(Tcl_Interp* interp, bool value)
{
    Tcl_SetObjResult(interp, Tcl_NewBooleanObj(value));
    return TCL_OK;
}

int set_int(Tcl_Interp* interp, int value)
{
    Tcl_SetObjResult(interp, Tcl_NewIntObj(value));
    return TCL_OK;
}

int set_text(Tcl_Interp* interp, const char* value)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(value != nullptr ? value : "", -1));
    return TCL_OK;
}

// ---- commands ------------------------------------------------------------

// A method command taking only its object: checks, converts, runs `body`.
#define VEK_SELF_CMD(fn, T, type, fmt, body)                                \
    int fn(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) \
    {                                                                       \
        if (!check_args(interp, objc, fmt)) return TCL_ERROR;               \
        T* self = nullptr;                                                  \
        if (!get_self(interp, objv, type, #fn, &self)) return TCL_ERROR;    \
        if (self == nullptr) return set_text(interp, "");                   \
        body                                                                \
    }

VEK_SELF_CMD(i_object_addref, i_object, t_object, "o:i_object_addref self ",
             return set_int(interp, track_addref(interp, self, true));)
VEK_SELF_CMD(i_object_release, i_object, t_object, "o:i_object_release self ",
             return set_int(interp, track_release(interp, self));)
VEK_SELF_CMD(i_string_get_value, i_string, t_string, "o:i_string_get_value self ",
             return set_text(interp, self->get_value());)
VEK_SELF_CMD(i_string_set_value, i_string, t_string, "oo:i_string_set_value self val ",
             return set_bool(interp, self->set_value(Tcl_GetString(objv[2])));)
VEK_SELF_CMD(i_string_concat, i_string, t_string, "oo:i_string_concat self val ", self->concat(Tcl_GetString(objv[2]));
             return TCL_OK;)
VEK_SELF_CMD(i_string_addref, i_string, t_string, "o:i_string_addref self ",
             return set_int(interp, track_addref(interp, t_string.to_object(self), true));)
VEK_SELF_CMD(i_string_release, i_string, t_string, "o:i_string_release self ",
             return set_int(interp, track_release(interp, t_string.to_object(self)));)
VEK_SELF_CMD(i_script_engine_execute_text, i_script_engine, t_engine, "oo:i_script_engine_execute_text self code ",
             return set_bool(interp, self->execute_text(Tcl_GetString(objv[2])));)
VEK_SELF_CMD(i_script_engine_get_output, i_script_engine, t_engine, "o:i_script_engine_get_output self ",
             return set_text(interp, self->get_output());)
VEK_SELF_CMD(i_script_engine_get_error, i_script_engine, t_engine, "o:i_script_engine_get_error self ",
             return set_text(interp, self->get_error());)
VEK_SELF_CMD(i_script_engine_get_error_line, i_script_engine, t_engine, "o:i_script_engine_get_error_line self ",
             return set_int(interp, self->get_error_line());)
VEK_SELF_CMD(i_script_engine_reset, i_script_engine, t_engine, "o:i_script_engine_reset self ", self->reset();
             return TCL_OK;)
VEK_SELF_CMD(i_script_engine_puts_impl, i_script_engine, t_engine, "oo:i_script_engine_puts_impl self text ",
             self->puts_impl(Tcl_GetString(objv[2]));
             return TCL_OK;)
VEK_SELF_CMD(i_script_engine_addref, i_script_engine, t_engine, "o:i_script_engine_addref self ",
             return set_int(interp, track_addref(interp, t_engine.to_object(self), true));)
VEK_SELF_CMD(i_script_engine_release, i_script_engine, t_engine, "o:i_script_engine_release self ",
             return set_int(interp, track_release(interp, t_engine.to_object(self)));)

int i_script_engine_get_registration_object(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    const char fmt[] = "o:i_script_engine_get_registration_object self ";
    if (!check_args(interp, objc, fmt)) return TCL_ERROR;
    i_script_engine* self = nullptr;
    if (!get_self(interp, objv, t_engine, "i_script_engine_get_registration_object", &self)) return TCL_ERROR;
    i_object* result = self != nullptr ? self->get_registration_object() : nullptr;
    set_handle_result(interp, result, t_object);
    // The script now holds the reference the call returned.
    track_addref(interp, result, false);
    return TCL_OK;
}

int i_script_engine_execute_file(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_SetObjResult(interp,
                         Tcl_NewStringObj("No matching function for overloaded 'i_script_engine_execute_file'", -1));
        return TCL_ERROR;
    }
    i_script_engine* self = nullptr;
    if (!get_self(interp, objv, t_engine, "i_script_engine_execute_file", &self)) return TCL_ERROR;
    return set_bool(interp, self != nullptr && self->execute_file(Tcl_GetString(objv[2])));
}

int i_script_engine_execute_code(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (!check_args(interp, objc, "oo:i_script_engine_execute_code self code ")) return TCL_ERROR;
    i_script_engine* self = nullptr;
    if (!get_self(interp, objv, t_engine, "i_script_engine_execute_code", &self)) return TCL_ERROR;
    i_object* obj = nullptr;
    void* code = nullptr;
    if (!get_object(interp, objv[2], t_code, &obj, &code)) {
        return type_error(interp, "i_script_engine_execute_code", 2, t_code.decl);
    }
    return set_bool(interp, self != nullptr && self->execute_code(static_cast<i_script_code*>(code)));
}

int i_script_engine_register_object(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (!check_args(interp, objc, "oooo:i_script_engine_register_object self obj obj_name cast_func ")) {
        return TCL_ERROR;
    }
    i_script_engine* self = nullptr;
    if (!get_self(interp, objv, t_engine, "i_script_engine_register_object", &self)) return TCL_ERROR;
    i_object* obj = nullptr;
    void* typed = nullptr;
    if (!get_object(interp, objv[2], t_object, &obj, &typed)) {
        return type_error(interp, "i_script_engine_register_object", 2, t_object.decl);
    }
    return set_bool(interp,
                    self != nullptr && self->register_object(obj, Tcl_GetString(objv[3]), Tcl_GetString(objv[4])));
}

int vek_cast_i_string_cmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (!check_args(interp, objc, "o:vek_cast_i_string obj ")) return TCL_ERROR;
    i_object* obj = nullptr;
    void* typed = nullptr;
    if (!get_object(interp, objv[1], t_object, &obj, &typed)) {
        return type_error(interp, "vek_cast_i_string", 1, t_object.decl);
    }
    i_string* result = vek_cast_i_string(obj);
    set_handle_result(interp, result, t_string);
    script_engine* e = engine_of(interp);
    if (e != nullptr && result != nullptr) e->bind_pending_cast(obj);
    return TCL_OK;
}

// Answers the calling thread's own engine only.
int get_script_engine_cmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (!check_args(interp, objc, "o:_vek_get_script_engine addr ")) return TCL_ERROR;
    Tcl_WideInt addr = 0;
    if (Tcl_GetWideIntFromObj(nullptr, objv[1], &addr) != TCL_OK) {
        return type_error(interp, "_vek_get_script_engine", 1, "long");
    }
    script_engine* e = script_engine::current();
    bool mine = e != nullptr && reinterpret_cast<std::uintptr_t>(e) == static_cast<std::uintptr_t>(addr);
    i_script_engine* result = mine ? static_cast<i_script_engine*>(e) : nullptr;
    set_handle_result(interp, result, t_engine);
    track_addref(interp, t_engine.to_object(result), false);
    return TCL_OK;
}

// ---- class records and object commands -----------------------------------

const method_entry k_object_methods[] = {{"addref", i_object_addref}, {"release", i_object_release}, {}};
const method_entry k_string_methods[] = {{"get_value", i_string_get_value}, {"set_value", i_string_set_value},
                                         {"concat", i_string_concat},       {"addref", i_string_addref},
                                         {"release", i_string_release},     {}};
const method_entry k_engine_methods[] = {{"execute_text", i_script_engine_execute_text},
                                         {"execute_file", i_script_engine_execute_file},
                                         {"execute_code", i_script_engine_execute_code},
                                         {"register_object", i_script_engine_register_object},
                                         {"get_output", i_script_engine_get_output},
                                         {"get_error", i_script_engine_get_error},
                                         {"get_error_line", i_script_engine_get_error_line},
                                         {"reset", i_script_engine_reset},
                                         {"puts_impl", i_script_engine_puts_impl},
                                         {"get_registration_object", i_script_engine_get_registration_object},
                                         {"addref", i_script_engine_addref},
                                         {"release", i_script_engine_release},
                                         {}};

const class_record k_object_class{"i_object", k_object_methods, nullptr};
const class_record k_string_class{"i_string", k_string_methods, &k_object_class};
const class_record k_engine_class{"i_script_engine", k_engine_methods, &k_object_class};

const type_info t_object{"_p_vek__i_object", "vek::i_object *", &k_object_class,
                         [](void* p) { return static_cast<i_object*>(p); }};
const type_info t_string{"_p_vek__i_string", "vek::i_string *", &k_string_class,
                         [](void* p) { return static_cast<i_object*>(static_cast<i_string*>(p)); }};
const type_info t_engine{"_p_vek__i_script_engine", "vek::i_script_engine *", &k_engine_class,
                         [](void* p) { return static_cast<i_object*>(static_cast<i_script_engine*>(p)); }};
const type_info t_code{"_p_vek__i_script_code", "vek::i_script_code *", nullptr,
                       [](void* p) { return static_cast<i_object*>(static_cast<i_script_code*>(p)); }};

const method_entry* find_method(const class_record* cls, const char* name)
{
    for (; cls != nullptr; cls = cls->base) {
        for (const method_entry* m = cls->methods; m->name != nullptr; ++m) {
            if (std::strcmp(m->name, name) == 0) return m;
        }
    }
    return nullptr;
}

int object_cmd_body(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto* inst = static_cast<instance*>(cd);
    if (objc < 2) return set_text(interp, "wrong # args."), TCL_ERROR;
    const char* word = Tcl_GetString(objv[1]);
    if (std::strcmp(word, "cget") == 0) {
        if (objc < 3) return set_text(interp, "wrong # args."), TCL_ERROR;
        if (std::strcmp(Tcl_GetString(objv[2]), "-this") == 0) return set_text(interp, inst->handle.c_str());
        if (std::strcmp(Tcl_GetString(objv[2]), "-thisown") == 0) return set_text(interp, "0");
        return set_text(interp, "Invalid attribute name."), TCL_ERROR;
    }
    if (std::strcmp(word, "configure") == 0) {
        set_text(interp, objc < 4 ? "wrong # args." : "Invalid attribute name.");
        return TCL_ERROR;
    }
    const method_entry* m = find_method(inst->type->cls, word);
    if (m == nullptr) {
        std::string msg = "Invalid method. Must be one of: configure cget";
        std::vector<std::string> seen;
        for (const class_record* c = inst->type->cls; c != nullptr; c = c->base) {
            for (const method_entry* e = c->methods; e->name != nullptr; ++e) {
                bool dup = false;
                for (auto& s : seen) dup = dup || s == e->name;
                if (dup) continue;
                seen.emplace_back(e->name);
                msg.append(" ").append(e->name);
            }
        }
        return set_text(interp, msg.c_str()), TCL_ERROR;
    }
    std::vector<Tcl_Obj*> args(objv, objv + objc);
    std::swap(args[0], args[1]);  // the method name as command, the handle as self
    return m->fn(nullptr, interp, objc, args.data());
}

// No exception may cross Tcl's C frames: an allocation failure inside a
// command becomes a Tcl error.
int guarded(Tcl_ObjCmdProc* fn, ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    try {
        return fn(cd, interp, objc, objv);
    } catch (...) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("MemoryError out of memory", -1));
        return TCL_ERROR;
    }
}

int object_cmd(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return guarded(object_cmd_body, cd, interp, objc, objv);
}

struct command_entry {
    const char* name;
    Tcl_ObjCmdProc* fn;
};

// A null result is the handle "NULL"; calling a method on it lands here.
int null_object_cmd(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Invalid operation over 'NULL' object ", -1));
    return TCL_ERROR;
}

// Every command of the table goes through here, its entry as client data.
int table_cmd(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return guarded(static_cast<const command_entry*>(cd)->fn, nullptr, interp, objc, objv);
}

const command_entry k_commands[] = {
    {"NULL", null_object_cmd},
    {"_vek_get_script_engine", get_script_engine_cmd},
    {"vek_cast_i_string", vek_cast_i_string_cmd},
    {"i_object_addref", i_object_addref},
    {"i_object_release", i_object_release},
    {"i_string_get_value", i_string_get_value},
    {"i_string_set_value", i_string_set_value},
    {"i_string_concat", i_string_concat},
    {"i_string_addref", i_string_addref},
    {"i_string_release", i_string_release},
    {"i_script_engine_execute_text", i_script_engine_execute_text},
    {"i_script_engine_execute_file", i_script_engine_execute_file},
    {"i_script_engine_execute_code", i_script_engine_execute_code},
    {"i_script_engine_register_object", i_script_engine_register_object},
    {"i_script_engine_get_output", i_script_engine_get_output},
    {"i_script_engine_get_error", i_script_engine_get_error},
    {"i_script_engine_get_error_line", i_script_engine_get_error_line},
    {"i_script_engine_reset", i_script_engine_reset},
    {"i_script_engine_puts_impl", i_script_engine_puts_impl},
    {"i_script_engine_get_registration_object", i_script_engine_get_registration_object},
    {"i_script_engine_addref", i_script_engine_addref},
    {"i_script_engine_release", i_script_engine_release},
};

}  // namespace
}  // namespace vek

int Vek_core_Init(Tcl_Interp* interp)
{
    if (interp == nullptr) return TCL_ERROR;
    if (Tcl_PkgProvide(interp, "vek_core", "0.0") != TCL_OK) return TCL_ERROR;
    for (const auto& cmd : vek::k_commands) {
        Tcl_CreateObjCommand(interp, cmd.name, vek::table_cmd, const_cast<vek::command_entry*>(&cmd), nullptr);
    }
    return TCL_OK;
}

int Vek_core_SafeInit(Tcl_Interp* interp)
{
    return Vek_core_Init(interp);
}
