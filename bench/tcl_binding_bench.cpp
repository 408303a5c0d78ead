// The Tcl package's commands, each figure beside a hand-written baseline
// run in the same interpreter in the same run. Two settings: a plain
// interpreter that loaded the package itself (no engine in the thread, so
// nothing is counted; handles are checked in the process-wide index) and
// the thread's script engine (tracked handles).
// - i_string_get_value $s and $s get_value, as Tcl_EvalObjv of prebuilt
//   words and as a compiled proc loop (per iteration), beside a command
//   that parses the handle text and calls get_value, and beside an object
//   command of the bench's own that dispatches on the method name;
// - making and releasing a string handle (vek_release_orig plus deleting
//   the command in the plain interpreter, the tracked vek_release in the
//   engine) beside a command making the string and a counter-named command
//   for it, then releasing and deleting both;
// - object arguments given as a handle, as NULL and as a command name (the
//   handle's command renamed to foo), through i_string_get_value and
//   vek_cast_i_string, beside a command that parses the handle and finds it
//   in a std::unordered_map, or finds the command through Tcl's hash table;
// - a method call, and making and releasing a handle, with 10 and with
//   10 000 tracked objects in the engine;
// - recycling an engine that holds 10 000 tracked objects (made in a proc
//   loop first), per object, beside making 10 000 strings with a command
//   each in the same loop and deleting the commands and strings from C.
//
// Every case is registered as <setting>/<case>/binding and .../baseline;
// after the run a table gives ns per operation of both (the benchmark
// thread's CPU time, the least of the repetitions, so that other load on
// the machine counts little) and their ratio.
//
// The plain-interpreter cases run first: once the thread has built an
// engine it stays the thread's engine, and the binding then refuses
// handles it did not make.
#include <tcl.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <vek/vek_core.h>

#include "bench_support.h"

namespace {

// Iterations of a proc loop per timed call.
constexpr int k_batch = 1000;
constexpr int k_many = 10000;

vek::i_script_service* service()
{
    static vek::i_script_service* svc = [] {
        setenv("VEK_ROOT_PATH", "/tmp", 1);
        vek_bench::ensure_library();
        vek_core()->load_library(VEK_CORE_SO);
        return vek_cast_i_script_service(vek_core()->get_service("svc_script"));
    }();
    return svc;
}

// The engine's interpreter, learnt by loading a static package of the
// bench's into it: Tcl runs the package's init once per interpreter, so
// the last interpreter seen stays right until the engine builds a new one.
thread_local Tcl_Interp* t_engine_interp = nullptr;
// Set once the thread has used an engine.
bool g_engine_used = false;

int bench_package_init(Tcl_Interp* interp)
{
    t_engine_interp = interp;
    return TCL_OK;
}

Tcl_Interp* interp_of(vek::i_script_engine* e)
{
    static bool registered = [] {
        Tcl_StaticPackage(nullptr, "Vekbench", bench_package_init, bench_package_init);
        return true;
    }();
    (void)registered;
    g_engine_used = true;
    if (!e->execute_text("load {} Vekbench")) return nullptr;
    return t_engine_interp;
}

// ---- the baselines' own commands ----

constexpr std::size_t k_digits = 2 * sizeof(void*);
const char k_suffix[] = "_p_vek__i_string";

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "_", the pointer's bytes in memory order, "_p_vek__i_string".
bool parse_string_handle(const char* text, int len, vek::i_string** out)
{
    if (static_cast<std::size_t>(len) != 1 + k_digits + sizeof k_suffix - 1 || text[0] != '_') return false;
    if (std::memcmp(text + 1 + k_digits, k_suffix, sizeof k_suffix - 1) != 0) return false;
    unsigned char bytes[sizeof(void*)];
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        int hi = hex_value(text[1 + 2 * i]);
        int lo = hex_value(text[2 + 2 * i]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    std::memcpy(out, bytes, sizeof bytes);
    return true;
}

void make_string_handle(const void* p, char* out)
{
    static const char hex[] = "0123456789abcdef";
    unsigned char bytes[sizeof p];
    std::memcpy(bytes, &p, sizeof p);
    out[0] = '_';
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        out[1 + 2 * i] = hex[bytes[i] >> 4];
        out[2 + 2 * i] = hex[bytes[i] & 15];
    }
    std::memcpy(out + 1 + k_digits, k_suffix, sizeof k_suffix);
}

// The objects the baselines accept, as a tracker would hold them.
std::unordered_map<const void*, vek::i_object*> g_tracked;
// Strings and commands made by bl_create_kept, undone from C.
std::vector<std::pair<Tcl_Command, vek::i_string*>> g_kept;
unsigned long g_counter = 0;

int fail(Tcl_Interp* interp, const char* msg)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg, -1));
    return TCL_ERROR;
}

int set_value_result(Tcl_Interp* interp, vek::i_string* s)
{
    const char* v = s->get_value();
    Tcl_SetObjResult(interp, Tcl_NewStringObj(v != nullptr ? v : "", -1));
    return TCL_OK;
}

// bl_get_value handle: parse, call.
int bl_get_value(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) return fail(interp, "wrong # args");
    int len = 0;
    const char* text = Tcl_GetStringFromObj(objv[1], &len);
    vek::i_string* s = nullptr;
    if (!parse_string_handle(text, len, &s)) return fail(interp, "not a handle");
    return set_value_result(interp, s);
}

// An object command of the bench's own: client data the string.
int bl_object(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 2) return fail(interp, "wrong # args");
    const char* method = Tcl_GetString(objv[1]);
    if (std::strcmp(method, "get_value") == 0) return set_value_result(interp, static_cast<vek::i_string*>(cd));
    return fail(interp, "unknown method");
}

// The string a word names: a handle the tracker knows, or a command of
// bl_object's. False for anything else.
bool bl_resolve(Tcl_Interp* interp, Tcl_Obj* word, vek::i_string** out)
{
    int len = 0;
    const char* text = Tcl_GetStringFromObj(word, &len);
    vek::i_string* s = nullptr;
    if (parse_string_handle(text, len, &s)) {
        if (g_tracked.find(s) == g_tracked.end()) return false;
        *out = s;
        return true;
    }
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, text, &info) || info.objProc != bl_object) return false;
    *out = static_cast<vek::i_string*>(info.objClientData);
    return true;
}

// bl_lookup_get_value handle-or-name
int bl_lookup_get_value(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) return fail(interp, "wrong # args");
    vek::i_string* s = nullptr;
    if (!bl_resolve(interp, objv[1], &s)) return fail(interp, "no such object");
    return set_value_result(interp, s);
}

// bl_cast handle-or-name-or-NULL: vek_cast_i_string, and the handle of
// its result, checked against the commands as the binding does.
int bl_cast(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) return fail(interp, "wrong # args");
    int len = 0;
    const char* text = Tcl_GetStringFromObj(objv[1], &len);
    vek::i_string* s = nullptr;
    if (len == 4 && std::memcmp(text, "NULL", 4) == 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("NULL", 4));
        return TCL_OK;
    }
    if (!bl_resolve(interp, objv[1], &s)) return fail(interp, "no such object");
    vek::i_string* result = vek_cast_i_string(s);
    char handle[1 + k_digits + sizeof k_suffix];
    make_string_handle(result, handle);
    Tcl_CmdInfo info;
    Tcl_GetCommandInfo(interp, handle, &info);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(handle, -1));
    return TCL_OK;
}

Tcl_Command bl_new(Tcl_Interp* interp, Tcl_Obj* value, vek::i_string** made)
{
    vek::i_string* s = vek_create_string(Tcl_GetString(value));
    char name[32];
    std::snprintf(name, sizeof name, "bl_%lu", ++g_counter);
    Tcl_Command cmd = Tcl_CreateObjCommand(interp, name, bl_object, s, nullptr);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name, -1));
    *made = s;
    return cmd;
}

// bl_create value: a string and a counter-named command for it.
int bl_create(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) return fail(interp, "wrong # args");
    vek::i_string* s = nullptr;
    bl_new(interp, objv[1], &s);
    return TCL_OK;
}

// bl_create_kept value: as bl_create, remembered in g_kept.
int bl_create_kept(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) return fail(interp, "wrong # args");
    vek::i_string* s = nullptr;
    Tcl_Command cmd = bl_new(interp, objv[1], &s);
    g_kept.emplace_back(cmd, s);
    return TCL_OK;
}

// bl_release name: releases the command's string (the command stays).
int bl_release(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) return fail(interp, "wrong # args");
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, Tcl_GetString(objv[1]), &info)) return fail(interp, "no such command");
    static_cast<vek::i_string*>(info.objClientData)->release();
    return TCL_OK;
}

// bl_free name: releases the command's string and deletes the command.
int bl_free(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) return fail(interp, "wrong # args");
    Tcl_Command cmd = Tcl_GetCommandFromObj(interp, objv[1]);
    Tcl_CmdInfo info;
    if (cmd == nullptr || !Tcl_GetCommandInfoFromToken(cmd, &info)) return fail(interp, "no such command");
    static_cast<vek::i_string*>(info.objClientData)->release();
    Tcl_DeleteCommandFromToken(interp, cmd);
    return TCL_OK;
}

void free_kept(Tcl_Interp* interp)
{
    for (auto& entry : g_kept) {
        Tcl_DeleteCommandFromToken(interp, entry.first);
        entry.second->release();
    }
    g_kept.clear();
}

const char k_procs[] =
    "proc loop_method {n s} { for {set i 0} {$i < $n} {incr i} { i_string_get_value $s } }\n"
    "proc loop_bl_method {n s} { for {set i 0} {$i < $n} {incr i} { bl_get_value $s } }\n"
    "proc loop_object {n s} { for {set i 0} {$i < $n} {incr i} { $s get_value } }\n"
    "proc create_plain {n} {\n"
    "    for {set i 0} {$i < $n} {incr i} { set h [vek_create_string x]; vek_release_orig $h; rename $h {} }\n"
    "}\n"
    "proc create_bl_plain {n} {\n"
    "    for {set i 0} {$i < $n} {incr i} { set h [bl_create x]; bl_release $h; rename $h {} }\n"
    "}\n"
    "proc create_tracked {n} { for {set i 0} {$i < $n} {incr i} { set h [vek_create_string x]; vek_release $h } }\n"
    "proc create_bl_free {n} { for {set i 0} {$i < $n} {incr i} { set h [bl_create x]; bl_free $h } }\n"
    "proc create_kept {n} { for {set i 0} {$i < $n} {incr i} { vek_create_string x } }\n"
    "proc create_bl_kept {n} { for {set i 0} {$i < $n} {incr i} { bl_create_kept x } }\n";

void install(Tcl_Interp* interp)
{
    Tcl_CreateObjCommand(interp, "bl_get_value", bl_get_value, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "bl_lookup_get_value", bl_lookup_get_value, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "bl_cast", bl_cast, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "bl_create", bl_create, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "bl_create_kept", bl_create_kept, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "bl_release", bl_release, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "bl_free", bl_free, nullptr, nullptr);
    Tcl_Eval(interp, k_procs);
}

// ---- settings ----

enum class where { plain, engine };

Tcl_Interp* plain_interp()
{
    static Tcl_Interp* interp = [] {
        service();
        Tcl_Interp* i = Tcl_CreateInterp();
        if (Vek_core_Init(i) != TCL_OK) return static_cast<Tcl_Interp*>(nullptr);
        install(i);
        return i;
    }();
    return interp;
}

// The interpreter a case runs in, holding (in ::s and ::t) two strings of
// the binding, the latter's command renamed to foo; for each a command
// of bl_object's (bl_s, bl_foo), both known to the baselines' tracker.
class session {
public:
    session(benchmark::State& state, where w, int extra = 0) : m_state(state), m_where(w)
    {
        if (w == where::plain) {
            if (g_engine_used) {
                state.SkipWithError("the thread has an engine already: run the plain cases first");
                return;
            }
            interp = plain_interp();
        } else {
            engine = service()->get_script_engine();
            interp = engine != nullptr ? interp_of(engine) : nullptr;
            if (interp != nullptr) install(interp);
        }
        if (interp == nullptr) {
            state.SkipWithError("no interpreter");
            return;
        }
        if (!eval("set ::s [vek_create_string hello]; set ::t [vek_create_string hello]; rename $::t foo")) return;
        m_s = track(Tcl_GetVar(interp, "s", TCL_GLOBAL_ONLY));
        m_t = track(Tcl_GetVar(interp, "t", TCL_GLOBAL_ONLY));
        Tcl_CreateObjCommand(interp, "bl_s", bl_object, m_s, nullptr);
        Tcl_CreateObjCommand(interp, "bl_foo", bl_object, m_t, nullptr);
        if (extra > 0) {
            std::string text = "set ::held {}; for {set i 0} {$i < " + std::to_string(extra) +
                               "} {incr i} { lappend ::held [vek_create_string x] }";
            if (!eval(text.c_str())) return;
            Tcl_Obj* list = Tcl_GetVar2Ex(interp, "held", nullptr, TCL_GLOBAL_ONLY);
            int n = 0;
            Tcl_Obj** items = nullptr;
            Tcl_ListObjGetElements(interp, list, &n, &items);
            for (int i = 0; i < n; ++i) track(Tcl_GetString(items[i]));
        }
        m_ok = true;
    }

    ~session()
    {
        for (Tcl_Obj* w : m_words) Tcl_DecrRefCount(w);
        g_tracked.clear();
        if (interp != nullptr) {
            Tcl_DeleteCommand(interp, "bl_s");
            Tcl_DeleteCommand(interp, "bl_foo");
        }
        if (m_where == where::plain && interp != nullptr) {
            Tcl_Eval(interp,
                     "foreach h [concat [list $::s foo] [expr {[info exists ::held] ? $::held : {}}]] {\n"
                     "    vek_release_orig $h; catch {rename $h {}}\n"
                     "}\n"
                     "catch {rename $::t {}}; unset -nocomplain ::held");
        }
        if (engine != nullptr) engine->release();  // recycles: drops every tracked object
    }

    bool ok() const { return m_ok; }

    // Words for Tcl_EvalObjv, held until the session ends. "$s" and "$t"
    // stand for the handles (a fresh object each time).
    std::vector<Tcl_Obj*> words(std::initializer_list<const char*> texts)
    {
        std::vector<Tcl_Obj*> out;
        for (const char* t : texts) {
            const char* text = t;
            if (std::strcmp(t, "$s") == 0) text = Tcl_GetVar(interp, "s", TCL_GLOBAL_ONLY);
            if (std::strcmp(t, "$t") == 0) text = Tcl_GetVar(interp, "t", TCL_GLOBAL_ONLY);
            Tcl_Obj* w = Tcl_NewStringObj(text, -1);
            Tcl_IncrRefCount(w);
            m_words.push_back(w);
            out.push_back(w);
        }
        return out;
    }

    bool eval(const char* text)
    {
        if (Tcl_Eval(interp, text) == TCL_OK) return true;
        m_state.SkipWithError(Tcl_GetStringResult(interp));
        return false;
    }

    Tcl_Interp* interp = nullptr;
    vek::i_script_engine* engine = nullptr;

private:
    vek::i_string* track(const char* handle)
    {
        vek::i_string* s = nullptr;
        if (handle != nullptr && parse_string_handle(handle, static_cast<int>(std::strlen(handle)), &s)) {
            g_tracked[s] = s;
        }
        return s;
    }

    benchmark::State& m_state;
    where m_where;
    bool m_ok = false;
    vek::i_string* m_s = nullptr;
    vek::i_string* m_t = nullptr;
    std::vector<Tcl_Obj*> m_words;
};

void time_objv(benchmark::State& state, Tcl_Interp* interp, const std::vector<Tcl_Obj*>& words)
{
    int n = static_cast<int>(words.size());
    Tcl_Obj* const* objv = words.data();
    for (auto _ : state) {
        if (Tcl_EvalObjv(interp, n, objv, 0) != TCL_OK) {
            state.SkipWithError(Tcl_GetStringResult(interp));
            break;
        }
    }
}

// ---- registration ----

// Operations per iteration of each case, for the ratio table.
std::map<std::string, double>& ops_of()
{
    static std::map<std::string, double> ops;
    return ops;
}
std::vector<std::string>& case_order()
{
    static std::vector<std::string> order;
    return order;
}

void add(const std::string& name, double ops, std::function<void(benchmark::State&)> fn)
{
    ops_of()[name] = ops;
    benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State& state) {
        fn(state);
    })->Unit(benchmark::kNanosecond);
}

// A pair of cases that each evaluate prebuilt words once per iteration
// (ops 1) or run a proc loop of k_batch iterations (ops k_batch).
void add_pair(where w, const std::string& name, double ops, std::initializer_list<const char*> binding,
              std::initializer_list<const char*> baseline, int extra = 0)
{
    std::string prefix = std::string(w == where::plain ? "plain/" : "engine/") + name;
    case_order().push_back(prefix);
    std::vector<const char*> b(binding), bl(baseline);
    add(prefix + "/binding", ops, [w, b, extra](benchmark::State& state) {
        session s(state, w, extra);
        if (!s.ok()) return;
        std::vector<Tcl_Obj*> words;
        for (const char* t : b) words.push_back(s.words({t})[0]);
        time_objv(state, s.interp, words);
    });
    add(prefix + "/baseline", ops, [w, bl, extra](benchmark::State& state) {
        session s(state, w, extra);
        if (!s.ok()) return;
        std::vector<Tcl_Obj*> words;
        for (const char* t : bl) words.push_back(s.words({t})[0]);
        time_objv(state, s.interp, words);
    });
}

const std::string k_n = std::to_string(k_batch);

void add_setting(where w)
{
    const char* n = k_n.c_str();
    // 1. get_value
    add_pair(w, "get_value/objv_method", 1, {"i_string_get_value", "$s"}, {"bl_get_value", "$s"});
    add_pair(w, "get_value/objv_object", 1, {"$s", "get_value"}, {"bl_s", "get_value"});
    add_pair(w, "get_value/proc_method", k_batch, {"loop_method", n, "$s"}, {"loop_bl_method", n, "$s"});
    add_pair(w, "get_value/proc_object", k_batch, {"loop_object", n, "$s"}, {"loop_object", n, "bl_s"});
    // 2. making and releasing a handle
    if (w == where::plain) {
        add_pair(w, "create_release", k_batch, {"create_plain", n}, {"create_bl_plain", n});
    } else {
        add_pair(w, "create_release", k_batch, {"create_tracked", n}, {"create_bl_free", n});
    }
    // 3. object arguments
    add_pair(w, "lookup/get_value_handle", 1, {"i_string_get_value", "$s"}, {"bl_lookup_get_value", "$s"});
    add_pair(w, "lookup/get_value_name", 1, {"i_string_get_value", "foo"}, {"bl_lookup_get_value", "bl_foo"});
    add_pair(w, "lookup/cast_handle", 1, {"vek_cast_i_string", "$s"}, {"bl_cast", "$s"});
    add_pair(w, "lookup/cast_null", 1, {"vek_cast_i_string", "NULL"}, {"bl_cast", "NULL"});
    add_pair(w, "lookup/cast_name", 1, {"vek_cast_i_string", "foo"}, {"bl_cast", "bl_foo"});
}

// 5. Recycling an engine that holds k_many tracked objects.
void add_recycle()
{
    const std::string name = "engine/recycle_10000";
    case_order().push_back(name);
    add(name + "/binding", k_many, [](benchmark::State& state) {
        {
            session s(state, where::engine);  // installs the procs
            if (!s.ok()) return;
        }
        Tcl_Obj* words[2] = {Tcl_NewStringObj("create_kept", -1), Tcl_NewIntObj(k_many)};
        for (Tcl_Obj* w : words) Tcl_IncrRefCount(w);
        for (auto _ : state) {
            vek::i_script_engine* e = service()->get_script_engine();
            Tcl_Interp* interp = interp_of(e);
            if (Tcl_EvalObjv(interp, 2, words, 0) != TCL_OK) {
                state.SkipWithError(Tcl_GetStringResult(interp));
                e->release();
                break;
            }
            e->release();
        }
        for (Tcl_Obj* w : words) Tcl_DecrRefCount(w);
    });
    add(name + "/baseline", k_many, [](benchmark::State& state) {
        session s(state, where::engine);
        if (!s.ok()) return;
        std::vector<Tcl_Obj*> words = s.words({"create_bl_kept", std::to_string(k_many).c_str()});
        for (auto _ : state) {
            if (Tcl_EvalObjv(s.interp, 2, words.data(), 0) != TCL_OK) {
                state.SkipWithError(Tcl_GetStringResult(s.interp));
                break;
            }
            free_kept(s.interp);
        }
        free_kept(s.interp);
    });
}

void register_all()
{
    add_setting(where::plain);
    add_setting(where::engine);
    // 4. a method call, and a handle made and released, among many tracked
    // objects
    for (int held : {10, k_many}) {
        std::string suffix = "/" + std::to_string(held);
        add_pair(where::engine, "tracked" + suffix + "/method", 1, {"i_string_get_value", "$s"},
                 {"bl_lookup_get_value", "$s"}, held);
        add_pair(where::engine, "tracked" + suffix + "/object", 1, {"$s", "get_value"}, {"bl_s", "get_value"}, held);
        add_pair(where::engine, "tracked" + suffix + "/create_release", k_batch, {"create_tracked", k_n.c_str()},
                 {"create_bl_free", k_n.c_str()}, held);
    }
    add_recycle();
}

// Prints the runs as usual, then CPU ns per operation of each pair and
// the binding's ratio to its baseline.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            std::string name = run.benchmark_name();
            auto it = ops_of().find(name);
            double ops = it != ops_of().end() ? it->second : 1;
            double ns = run.GetAdjustedCPUTime() / ops;
            auto seen = m_ns.find(name);
            if (seen == m_ns.end() || ns < seen->second) m_ns[name] = ns;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void print_ratios() const
    {
        std::printf("\n%-36s %14s %15s %7s\n", "case", "binding ns/op", "baseline ns/op", "ratio");
        std::printf("(CPU time of the benchmark thread, least of the repetitions)\n");
        for (const std::string& c : case_order()) {
            auto b = m_ns.find(c + "/binding");
            auto bl = m_ns.find(c + "/baseline");
            if (b == m_ns.end() || bl == m_ns.end()) continue;
            std::printf("%-36s %14.1f %15.1f %6.2fx\n", c.c_str(), b->second, bl->second, b->second / bl->second);
        }
    }

private:
    std::map<std::string, double> m_ns;
};

}  // namespace

int main(int argc, char** argv)
{
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
