#include "script/script_engine.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/env.h"
#include "platform/fs.h"
#include "script/thread_serial.h"
#include "vek/core.h"
#include "vek/util.h"

namespace vek {

namespace {

thread_local script_engine* t_current = nullptr;

const char k_reset_script[] = "if {[namespace exists vek]} { namespace delete vek }";
const char k_prelude[] =
    "namespace eval vek {\n"
    "variable vek_script_engine [_vek_get_script_engine 0x%" PRIxPTR
    "]\n"
    "proc puts {args} {\n"
    "\tvariable vek_script_engine\n"
    "\t$vek_script_engine puts_impl [lindex $args 0]\n"
    "}\n"
    "proc source {path} {\n"
    "\tvariable vek_script_engine\n"
    "\t$vek_script_engine execute_file $path\n"
    "}\n"
    "}";

// Texts longer than this are compiled afresh each time; the cache keeps at
// most k_text_cache_size of the shorter ones.
constexpr std::size_t k_text_cache_max_len = 4096;
constexpr std::size_t k_text_cache_size = 64;
// Files sourcing files deeper than this fail instead of exhausting the
// thread's stack.
constexpr int k_max_file_depth = 64;
thread_local int t_file_depth = 0;

Tcl_Obj* held(Tcl_Obj* obj)
{
    if (obj != nullptr) Tcl_IncrRefCount(obj);
    return obj;
}

}  // namespace

// Made when the library loads and kept until the process ends: engines of
// threads still running at unload may yet take it.
static mutex* const g_init_script_mutex = new mutex();

mutex* init_script_mutex()
{
    return g_init_script_mutex;
}

Tcl_Obj* make_script_obj(const char* text, bool raw)
{
    if (raw) return Tcl_NewStringObj(text, -1);
    std::size_t len = std::strlen(text);
    std::string wrapped;
    wrapped.reserve(len + 30);
    wrapped.append("namespace eval vek {\n").append(text, len).append("\n}");
    return Tcl_NewStringObj(wrapped.data(), static_cast<int>(wrapped.size()));
}

script_engine::script_engine()
    : m_interp(nullptr),
      m_owner(static_cast<unsigned long>(vek_get_thread_id())),
      m_owner_serial(thread_serial()),
      m_registration(nullptr),
      m_reset_script(nullptr),
      m_prelude(nullptr),
      m_in_use(false),
      m_stale(false),
      m_output(new string()),
      m_tracking(this)
{
    m_output->addref();
    t_current = this;
}

script_engine::~script_engine()
{
    bool own = is_owner();
    // Compiled objects go before the interpreter they were compiled in.
    for (auto& entry : m_files) entry.second->release();
    m_files.clear();
    // Tcl objects belong to the owner thread; elsewhere they are left.
    if (own) {
        for (auto& entry : m_texts) Tcl_DecrRefCount(entry.second);
        if (m_reset_script != nullptr) Tcl_DecrRefCount(m_reset_script);
        if (m_prelude != nullptr) Tcl_DecrRefCount(m_prelude);
        if (m_interp != nullptr) {
            Tcl_ResetResult(m_interp);
            Tcl_DeleteInterp(m_interp);
            Tcl_Release(m_interp);
        }
    }
    // The interpreter is gone: its commands went with it.
    m_tracking.forget_all();
    m_output->release();
    if (t_current == this) t_current = nullptr;
}

script_engine* script_engine::current()
{
    return t_current;
}

bool script_engine::is_owner() const
{
    return thread_serial() == m_owner_serial;
}

bool script_engine::get_interface(const char* iface_name, void** pp_obj)
{
    if (std::strcmp(iface_name, "i_script_engine") == 0) {
        *pp_obj = static_cast<i_script_engine*>(this);
        return true;
    }
    return object::get_interface(iface_name, pp_obj);
}

int script_engine::release()
{
    int count = object::release();
    if (count == 1) {
        if (is_owner()) {
            recycle();
        } else {
            // No Tcl call here: the owner rebuilds the engine next time.
            m_in_use = false;
            m_stale = true;
        }
    }
    return count;
}

void script_engine::recycle()
{
    m_in_use = false;
    reset();
    if (m_interp != nullptr) {
        Tcl_EvalObjEx(m_interp, m_reset_script, TCL_EVAL_GLOBAL);
        Tcl_ResetResult(m_interp);
    }
    m_tracking.reset();
}

bool script_engine::eval(Tcl_Obj* obj)
{
    if (obj == nullptr || m_interp == nullptr || !is_owner()) return false;
    // Held across the evaluation: the script may drop the last other hold
    // (a file reloading itself, a text evicted from the cache).
    Tcl_IncrRefCount(obj);
    int rc = Tcl_EvalObjEx(m_interp, obj, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(obj);
    if (rc == TCL_OK) return true;
    const char* result = Tcl_GetStringResult(m_interp);
    if (*result == 0) return true;
    vek_log(1, "Script error on line %d: %s", Tcl_GetErrorLine(m_interp), result);
    m_stale = true;
    return false;
}

bool script_engine::eval_raw(const char* text)
{
    return eval(make_script_obj(text, true));
}

Tcl_Obj* script_engine::cached_text(const char* code)
{
    std::size_t len = std::strlen(code);
    if (len > k_text_cache_max_len) return make_script_obj(code, false);
    std::string key(code, len);
    auto it = m_texts.find(key);
    if (it != m_texts.end()) return it->second;
    Tcl_Obj* obj = make_script_obj(code, false);
    if (obj == nullptr) return nullptr;
    if (m_texts.size() >= k_text_cache_size) {
        for (auto& entry : m_texts) Tcl_DecrRefCount(entry.second);
        m_texts.clear();
    }
    m_texts.emplace(std::move(key), held(obj));
    return obj;
}

bool script_engine::execute_text(const char* code)
{
    if (code == nullptr || m_interp == nullptr || !is_owner()) return false;
    return eval(cached_text(code));
}

bool script_engine::execute_file(const char* path, vek_script_file_load_function func, const void* fparam)
{
    if (path == nullptr || !is_owner()) return false;
    char* abs = vek_get_absolute_path(path);
    if (abs == nullptr) return false;
    if (platform::path_kind(abs) == platform::entry_kind::none || t_file_depth >= k_max_file_depth) {
        std::free(abs);
        return false;
    }
    script_file* file = nullptr;
    auto it = m_files.find(abs);
    if (it == m_files.end()) {
        file = new (std::nothrow) script_file();
        if (file == nullptr) {
            std::free(abs);
            return false;
        }
        file->addref();
        if (!file->load(abs, func, fparam)) {
            file->release();
            std::free(abs);
            return false;
        }
        m_files.emplace(abs, file);
    } else {
        file = it->second;
        if (!file->load(abs, func, fparam)) {
            std::free(abs);
            return false;
        }
    }
    std::free(abs);
    file->addref();
    ++t_file_depth;
    bool ok = eval(file->get_compiled_code());
    --t_file_depth;
    file->release();
    return ok;
}

bool script_engine::execute_code(i_script_code* code)
{
    if (code == nullptr || !is_owner() || code->get_thread_id() != m_owner) return false;
    Tcl_Obj* compiled = code->get_compiled_code();
    if (compiled == nullptr) return false;
    code->addref();
    bool ok = eval(compiled);
    code->release();
    return ok;
}

bool script_engine::register_object(i_object* obj, const char* obj_name, const char* cast_func)
{
    if (obj_name == nullptr || m_interp == nullptr || !is_owner()) return false;
    bool cast = cast_func != nullptr && *cast_func != 0;
    std::string text = "variable vek_script_engine\nvariable ";
    text.append(obj_name).append(" ");
    if (cast) text.append("[").append(cast_func);
    text.append(" [$vek_script_engine get_registration_object]");
    if (cast) text.append("]");
    m_registration = obj;
    // Not cached: each name makes a different text.
    bool ok = eval(make_script_obj(text.c_str(), false));
    m_registration = nullptr;
    return ok;
}

const char* script_engine::get_output()
{
    return m_output->get_value();
}

const char* script_engine::get_error()
{
    if (m_interp == nullptr || !is_owner()) return "";
    return Tcl_GetStringResult(m_interp);
}

int script_engine::get_error_line()
{
    if (m_interp == nullptr || !is_owner()) return 0;
    return Tcl_GetErrorLine(m_interp);
}

void script_engine::reset()
{
    if (m_interp != nullptr && is_owner()) Tcl_ResetResult(m_interp);
    m_output->set_value("");
    m_output->reserve(0x40000);
}

void script_engine::puts_impl(const char* text)
{
    if (text != nullptr) m_output->concat(text);
}

i_object* script_engine::get_registration_object()
{
    i_object* obj = m_registration;
    if (obj != nullptr) obj->addref();
    return obj;
}

bool script_engine::init(script_service* service)
{
    m_service = service;
    m_reset_script = held(Tcl_NewStringObj(k_reset_script, -1));
    char prelude[sizeof k_prelude + 32];
    std::snprintf(prelude, sizeof prelude, k_prelude, reinterpret_cast<std::uintptr_t>(this));
    m_prelude = held(Tcl_NewStringObj(prelude, -1));

    {
        // Making an interpreter reads the environment, partly through getenv.
        platform::env_pause pause;
        m_interp = Tcl_CreateInterp();
    }
    m_tracking.attach(m_interp);
    if (m_interp == nullptr) {
        vek_trace("script_engine::init: error creating interpreter");
        return false;
    }
    Tcl_Preserve(m_interp);
    if (Tcl_Init(m_interp) != TCL_OK) {
        vek_trace("script_engine::init: error initializing TCL interpreter.");
        return false;
    }
    {
        mutex_locker lock(init_script_mutex());
        i_object_col* cmds = service->init_cmds();
        for (unsigned int i = 0; i < cmds->get_count(); ++i) {
            i_object* item = cmds->get_item_by_pos(i);
            i_string* text = vek_cast_i_string(item);
            if (text != nullptr) eval_raw(text->get_value());
            vek_release(item);
        }
    }
    return use_now(service);
}

bool script_engine::prepare_for_use(script_service* service)
{
    if (m_in_use) return true;
    if (m_stale) return false;
    return use_now(service);
}

bool script_engine::use_now(script_service* service)
{
    m_in_use = true;
    if (!eval(m_prelude)) return false;
    mutex_locker lock(init_script_mutex());
    i_object_col* files = service->init_files();
    for (unsigned int i = 0; i < files->get_count(); ++i) {
        i_object* item = files->get_item_by_pos(i);
        i_string* path = vek_cast_i_string(item);
        if (path != nullptr) execute_file(path->get_value());
        vek_release(item);
    }
    return true;
}

void script_engine::apply_init_cmd(const char* text)
{
    if (text == nullptr) return;
    if (is_owner() && m_interp != nullptr) {
        mutex_locker lock(init_script_mutex());
        eval_raw(text);
    }
    m_stale = true;
}

void script_engine::apply_init_file(const char* path)
{
    if (path == nullptr) return;
    if (is_owner()) {
        mutex_locker lock(init_script_mutex());
        execute_file(path);
    }
    m_stale = true;
}

}  // namespace vek

vek::i_script_engine* vek_cast_i_script_engine(vek::i_object* obj)
{
    void* p = nullptr;
    if (obj == nullptr || !obj->get_interface("i_script_engine", &p)) return nullptr;
    return static_cast<vek::i_script_engine*>(p);
}

vek::i_script_engine* _vek_get_script_engine(long addr)
{
    vek::script_engine* engine = vek::script_engine::current();
    if (engine == nullptr || reinterpret_cast<long>(engine) != addr) return nullptr;
    return engine;
}
