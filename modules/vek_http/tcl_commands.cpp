#include "tcl_commands.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "request.h"
#include "server.h"
#include "static_files.h"

namespace vek {
namespace http {

namespace {

typedef std::vector<std::pair<std::string, std::string>> pairs;

int fail(Tcl_Interp* interp, const std::string& message)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
}

int text(Tcl_Interp* interp, const char* value, size_t size)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(value, static_cast<int>(size)));
    return TCL_OK;
}

int text(Tcl_Interp* interp, const char* value)
{
    return text(interp, value, std::strlen(value));
}

int dict(Tcl_Interp* interp, const pairs& items)
{
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const auto& item : items) {
        Tcl_ListObjAppendElement(interp, list, Tcl_NewStringObj(item.first.c_str(), -1));
        Tcl_ListObjAppendElement(interp, list, Tcl_NewStringObj(item.second.c_str(), -1));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// Checks the argument count, then runs `act` on the running server; a
// false from it is the error `refused`.
template <class Act>
int on_server(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], int want, const char* usage, Act act,
              const std::string& refused)
{
    if (objc != want) {
        Tcl_WrongNumArgs(interp, 1, objv, usage);
        return TCL_ERROR;
    }
    server* s = server::find();
    if (s == nullptr) return fail(interp, "vek_http is not running");
    bool done = act(s);
    s->release();
    return done ? TCL_OK : fail(interp, refused);
}

int route_cmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto add = [&](server* s) {
        handler h;
        h.command = Tcl_GetString(objv[3]);
        return !h.command.empty() && s->routes().add(Tcl_GetString(objv[1]), Tcl_GetString(objv[2]), h);
    };
    return on_server(interp, objc, objv, 4, "method pattern command", add,
                     objc == 4 ? std::string("vek_http::route: cannot route '") + Tcl_GetString(objv[1]) + " " +
                                     Tcl_GetString(objv[2]) + "'"
                               : "");
}

int handlers_cmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto add = [&](server* s) {
        i_object* svc = vek_core()->get_service("svc_script");
        i_script_service* scripts = vek_cast_i_script_service(svc);
        bool added = scripts != nullptr && scripts->add_init_file(Tcl_GetString(objv[1]));
        if (added) s->renew_engines();
        vek_release(svc);
        return added;
    };
    return on_server(interp, objc, objv, 2, "file", add,
                     objc == 2 ? std::string("vek_http::handlers: cannot add '") + Tcl_GetString(objv[1]) + "'" : "");
}

int static_cmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto add = [&](server* s) { return s->add_static(Tcl_GetString(objv[1]), Tcl_GetString(objv[2])); };
    return on_server(interp, objc, objv, 3, "prefix directory", add,
                     objc == 3 ? std::string("vek_http::static: cannot serve '") + Tcl_GetString(objv[2]) + "'" : "");
}

// The answer part of ::vek_http::req.
int answer(Tcl_Interp* interp, request* r, const std::string& sub, int objc, Tcl_Obj* const objv[])
{
    if (sub == "respond" && (objc == 4 || objc == 5)) {
        int status = 0;
        if (Tcl_GetIntFromObj(interp, objv[2], &status) != TCL_OK) return TCL_ERROR;
        int size = 0;
        const char* body = Tcl_GetStringFromObj(objv[3], &size);
        r->respond(static_cast<unsigned int>(status), body, static_cast<size_t>(size),
                   objc == 5 ? Tcl_GetString(objv[4]) : "text/html; charset=utf-8");
        return TCL_OK;
    }
    if (sub == "file" && objc == 3) {
        if (!answer_file(r, Tcl_GetString(objv[2])))
            return fail(interp, std::string("::vek_http::req file: cannot read '") + Tcl_GetString(objv[2]) + "'");
        return TCL_OK;
    }
    if (sub == "set_header" && objc == 4) {
        r->set_header(Tcl_GetString(objv[2]), Tcl_GetString(objv[3]));
        return TCL_OK;
    }
    if (sub == "redirect" && (objc == 3 || objc == 4)) {
        int status = 302;
        if (objc == 4 && Tcl_GetIntFromObj(interp, objv[3], &status) != TCL_OK) return TCL_ERROR;
        r->redirect(Tcl_GetString(objv[2]), static_cast<unsigned int>(status));
        return TCL_OK;
    }
    return fail(interp, "wrong # args or unknown subcommand: ::vek_http::req " + sub);
}

int req_cmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    request* r = current_request();
    if (r == nullptr) return fail(interp, "::vek_http::req: no request is being answered in this thread");
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "subcommand ?arg ...?");
        return TCL_ERROR;
    }
    const std::string sub = Tcl_GetString(objv[1]);
    const char* arg = objc > 2 ? Tcl_GetString(objv[2]) : nullptr;
    if (objc == 2) {
        if (sub == "method") return text(interp, r->method());
        if (sub == "path") return text(interp, r->path());
        if (sub == "lang") return text(interp, r->language());
        if (sub == "headers") return dict(interp, r->all(MHD_HEADER_KIND));
        if (sub == "cookies") return dict(interp, r->all(MHD_COOKIE_KIND));
        if (sub == "query") return dict(interp, r->all(MHD_GET_ARGUMENT_KIND));
        if (sub == "form") return dict(interp, r->form_fields());
        if (sub == "body") {
            size_t size = 0;
            const char* body = r->body(&size);
            return text(interp, body, size);
        }
    } else if (objc == 3) {
        if (sub == "header") return text(interp, r->header(arg));
        if (sub == "query") return text(interp, r->query(arg));
        if (sub == "cookie") return text(interp, r->cookie(arg));
        if (sub == "param") return text(interp, r->param(arg));
        if (sub == "form") return text(interp, r->form(arg));
    }
    return answer(interp, r, sub, objc, objv);
}

}  // namespace

int create_tcl_commands(Tcl_Interp* interp)
{
    if (interp == nullptr) return TCL_ERROR;
    if (Tcl_FindNamespace(interp, "::vek_http", nullptr, 0) == nullptr &&
        Tcl_CreateNamespace(interp, "::vek_http", nullptr, nullptr) == nullptr)
        return TCL_ERROR;
    Tcl_CreateObjCommand(interp, "::vek_http::route", route_cmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vek_http::handlers", handlers_cmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vek_http::static", static_cmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vek_http::req", req_cmd, nullptr, nullptr);
    return TCL_OK;
}

}  // namespace http
}  // namespace vek
