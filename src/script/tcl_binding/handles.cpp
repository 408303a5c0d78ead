// Handles and the object commands named by them.
//
// A handle is "_", the pointer's bytes in memory order as lower-case hex,
// and the type name ("_efbeadde55550000_p_vek__i_string"); a null pointer
// is "NULL". Each interface handle given to a script is also a command
// whose record (an instance) lives until the command is deleted; deleting
// it never touches the object.
#include <cstring>
#include <new>

#include "script/script_tracking.h"
#include "script/tcl_binding/handle_index.h"
#include "script/tcl_binding/runtime.h"
#include "vek/script.h"

namespace vek {
namespace tcl {
namespace {

constexpr std::size_t k_digits = 2 * sizeof(void*);

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void delete_instance(ClientData cd)
{
    auto* inst = static_cast<instance*>(cd);
    script_tracking* tracking = script_tracking::current();
    if (tracking != nullptr) tracking->forget_command(inst->token);
    delete inst;
}

}  // namespace

void make_handle(const void* ptr, const type_info& type, char* out)
{
    if (ptr == nullptr) {
        std::memcpy(out, "NULL", 5);
        return;
    }
    unsigned char bytes[sizeof ptr];
    std::memcpy(bytes, &ptr, sizeof ptr);
    static const char hex[] = "0123456789abcdef";
    out[0] = '_';
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        out[1 + 2 * i] = hex[bytes[i] >> 4];
        out[2 + 2 * i] = hex[bytes[i] & 15];
    }
    std::size_t len = std::strlen(type.name);
    if (len > handle_size - k_digits - 2) len = handle_size - k_digits - 2;
    std::memcpy(out + 1 + k_digits, type.name, len);
    out[1 + k_digits + len] = 0;
}

bool parse_handle(const char* text, std::size_t len, void** ptr, const type_info** type)
{
    if (len <= k_digits + 1 || text[0] != '_') return false;
    unsigned char bytes[sizeof(void*)];
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        int hi = hex_value(text[1 + 2 * i]);
        int lo = hex_value(text[2 + 2 * i]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    const type_info* t = find_type(text + 1 + k_digits, len - 1 - k_digits);
    if (t == nullptr) return false;
    std::memcpy(ptr, bytes, sizeof bytes);
    *type = t;
    return true;
}

Tcl_Command create_object_command(Tcl_Interp* interp, const char* name, void* ptr, const type_info& type)
{
    auto* inst = new instance;
    make_handle(ptr, type, inst->handle);
    inst->ptr = ptr;
    inst->type = &type;
    inst->interp = interp;
    inst->token = Tcl_CreateObjCommand(interp, name, object_cmd, inst, delete_instance);
    return inst->token;
}

Tcl_Interp* interp_of(Tcl_Command cmd)
{
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfoFromToken(cmd, &info) || info.objProc != object_cmd) return nullptr;
    return static_cast<instance*>(info.objClientData)->interp;
}

void plain_release(i_object* obj)
{
    if (obj == nullptr || obj->release() != 0) return;
    // Destroyed: the pointer is only compared from here on.
    shared_forget(obj);
    script_tracking* tracking = script_tracking::current();
    if (tracking != nullptr) tracking->object_released(obj);
}

void note_handed_out(void* ptr, const type_info& type, i_object* obj)
{
    script_tracking* tracking = script_tracking::current();
    if (tracking != nullptr) {
        tracking->note_handle(ptr, &type, obj);
        return;
    }
    // The handle found last (a cast's argument, say) is entered already.
    if (shared_last(ptr, &type) != obj) shared_add(ptr, &type, obj);
}

void set_object_result(Tcl_Interp* interp, void* ptr, const type_info& type, result_hook hook)
{
    char handle[handle_size];
    make_handle(ptr, type, handle);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(handle, -1));
    if (ptr == nullptr || type.cls == nullptr) return;

    i_object* obj = type.to_object(ptr);
    note_handed_out(ptr, type, obj);
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, handle, &info)) {
        Tcl_Command token = create_object_command(interp, handle, ptr, type);
        // Without tracking the hook would only enter the object again.
        if (script_tracking::current() != nullptr) vek_tcl_register_object(obj, token);
    }
    if (hook == hook_owned) {
        vek_tcl_addref(obj, false);
    } else if (hook == hook_cast) {
        vek_tcl_register_cast(obj);
    }
}

}  // namespace tcl
}  // namespace vek
