#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/status_tree.h"
#include "platform/module.h"
#include "platform/thread.h"
#include "script/script_engine.h"
#include "script/tcl_quote.h"
#include "script/thread_serial.h"
#include "vek/core.h"
#include "vek/events.h"
#include "vek/util.h"

namespace vek {

namespace {

const char k_post_load_event[] = "VEK_CORE_EVT_POST_LOAD_LIBRARY";
constexpr std::size_t k_name_buffer = 256;

// Runs in an ending thread: forgets the thread's table entry, then drops
// the table's reference, which normally destroys the engine here.
void engine_thread_exit(void* data)
{
    auto* engine = static_cast<i_script_engine*>(data);
    if (engine == nullptr) return;
    if (vek_core() != nullptr) {
        i_object* svc = vek_core()->get_service("svc_script");
        script_service* service = vek_cast_script_service(svc);
        if (service != nullptr) service->forget_thread(engine);
        vek_release(svc);
    }
    engine->release();
}

void* exit_arg(script_engine* engine)
{
    return static_cast<i_script_engine*>(engine);
}

std::string expanded_file(const char* fmt_var, const char* file_name)
{
    std::string rel = std::string("${") + fmt_var + "}/" + file_name;
    char* abs = vek_get_absolute_path(rel.c_str());
    std::string result;
    if (abs != nullptr && vek_file_exists(abs)) result = abs;
    std::free(abs);
    return result;
}

}  // namespace

script_service::script_service() : m_init_files(new object_col()), m_init_cmds(new object_col())
{
    m_init_files->addref();
    m_init_cmds->addref();
    set_name("script_service");
    vek_install_handler(k_post_load_event, 0, this,
                        static_cast<vek_event_function>(&script_service::on_library_loaded));
}

script_service::~script_service()
{
    vek_uninstall_handler(k_post_load_event, 0, this,
                          static_cast<vek_event_function>(&script_service::on_library_loaded));
    {
        mutex_locker lock(this);
        for (auto& entry : m_engines) {
            if (entry.second.serial != thread_serial()) continue;
            platform::remove_thread_exit(engine_thread_exit, exit_arg(entry.second.engine));
            entry.second.engine->release();
        }
        m_engines.clear();
    }
    m_init_files->release();
    m_init_cmds->release();
}

bool script_service::get_interface(const char* iface_name, void** pp_obj)
{
    if (std::strcmp(iface_name, "i_script_service") == 0) {
        *pp_obj = static_cast<i_script_service*>(this);
        return true;
    }
    if (std::strcmp(iface_name, "i_named_object") == 0) {
        *pp_obj = static_cast<i_named_object*>(this);
        return true;
    }
    if (std::strcmp(iface_name, "script_service") == 0) {
        *pp_obj = this;
        return true;
    }
    if (std::strcmp(iface_name, "i_status_source") == 0) {
        *pp_obj = static_cast<i_status_source*>(this);
        return true;
    }
    return object::get_interface(iface_name, pp_obj);
}

void script_service::add_status(i_xml_node* status)
{
    auto_ptr_t<i_object> svc = vek_core()->get_service("svc_xml");
    i_xml_proc* xml = vek_cast_i_xml_proc(svc);
    if (xml == nullptr) return;
    struct engine_view {
        unsigned long thread;
        bool busy;
        std::size_t objects;
    };
    std::vector<engine_view> engines;
    {
        mutex_locker lock(this);
        for (const auto& entry : m_engines)
            engines.push_back({entry.first, entry.second.engine->is_in_use(), entry.second.engine->tracked()});
    }
    status_tree tree(xml);
    auto_ptr_t<i_xml_node> scripts = tree.add(status, "scripts");
    status_tree::set(scripts, "engines", static_cast<unsigned long long>(engines.size()));
    for (const engine_view& e : engines) {
        auto_ptr_t<i_xml_node> node = tree.add(scripts, "engine");
        status_tree::set(node, "thread", static_cast<unsigned long long>(e.thread));
        status_tree::set(node, "state", std::string(e.busy ? "busy" : "idle"));
        status_tree::set(node, "objects", static_cast<unsigned long long>(e.objects));
    }
}

i_script_engine* script_service::get_script_engine()
{
    // A thread already using its engine gets it again without the lock:
    // only this thread changes whether its engine is in use, and the
    // caller's own reference keeps it alive.
    script_engine* current = script_engine::current();
    if (current != nullptr && current->is_in_use() && current->service() == this) {
        current->addref();
        return current;
    }
    mutex_locker lock(this);
    unsigned long tid = vek_get_thread_id();
    auto it = m_engines.find(tid);
    if (it != m_engines.end()) {
        script_engine* old = it->second.engine;
        if (it->second.serial == thread_serial()) {
            if (old->prepare_for_use(this)) {
                old->addref();
                return old;
            }
            platform::remove_thread_exit(engine_thread_exit, exit_arg(old));
        }
        // Stale, or left by an ended thread whose id this one now has.
        m_engines.erase(it);
        old->release();
    }
    auto* engine = new (std::nothrow) script_engine();
    if (engine == nullptr) return nullptr;
    engine->addref();
    if (!engine->init(this)) {
        engine->release();
        return nullptr;
    }
    m_engines[tid] = table_entry{engine, thread_serial()};
    engine->addref();
    platform::on_thread_exit(engine_thread_exit, exit_arg(engine));
    return engine;
}

bool script_service::add_init_file(const char* file_path)
{
    char* abs = vek_get_absolute_path(file_path);
    if (abs == nullptr) return false;
    m_init_files->add_item(new string(abs), false);
    {
        mutex_locker lock(this);
        for (auto& entry : m_engines) entry.second.engine->apply_init_file(abs);
    }
    std::free(abs);
    return true;
}

bool script_service::add_init_cmd(const char* cmd_text)
{
    if (cmd_text == nullptr) return false;
    m_init_cmds->add_item(new string(cmd_text), false);
    mutex_locker lock(this);
    for (auto& entry : m_engines) entry.second.engine->apply_init_cmd(cmd_text);
    return true;
}

void script_service::forget_thread(i_script_engine* engine)
{
    mutex_locker lock(this);
    auto it = m_engines.find(vek_get_thread_id());
    if (it != m_engines.end() && static_cast<i_script_engine*>(it->second.engine) == engine) m_engines.erase(it);
}

bool script_service::on_library_loaded(i_event* evt)
{
    i_object* obj = evt != nullptr ? evt->get_event_object() : nullptr;
    i_vek_library* lib = vek_cast_i_vek_library(obj);
    void* handle = lib != nullptr ? lib->get_handle() : nullptr;
    auto name_fn = handle != nullptr
                       ? reinterpret_cast<const char* (*)()>(platform::module_symbol(handle, "vek_library_name"))
                       : nullptr;
    const char* name = name_fn != nullptr ? name_fn() : nullptr;
    if (name != nullptr && std::strlen(name) >= k_name_buffer) {
        vek_trace("script_service: library name too long (%zu bytes), no scripts added", std::strlen(name));
    } else if (name != nullptr && *name != 0) {
        try {
            add_module_scripts(lib, handle, name);
        } catch (...) {
            vek_trace("script_service: out of memory adding the scripts of '%s'", name);
        }
    }
    vek_release(obj);
    return true;
}

void script_service::add_module_scripts(i_vek_library* lib, void* handle, const char* name)
{
    std::string lower(name), upper(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string init_fn = lower;
    init_fn[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(init_fn[0])));
    init_fn += "_Init";
    if (platform::module_symbol(handle, init_fn.c_str()) != nullptr) {
        // Tcl guesses the init function from the file name unless told the
        // prefix, so the lower-case name goes with the path.
        std::string cmd = "load \"" + tcl_quoted(lib->get_path()) + "\" \"" + tcl_quoted(lower.c_str()) + "\"";
        add_init_cmd(cmd.c_str());
    }
    std::string file_name = lower + "_init.tcl";
    std::string path = expanded_file((upper + "_SCRIPT_PATH").c_str(), file_name.c_str());
    if (path.empty()) path = expanded_file("VEK_SCRIPT_PATH", file_name.c_str());
    if (!path.empty()) add_init_file(path.c_str());
}

}  // namespace vek

vek::i_script_service* vek_cast_i_script_service(vek::i_object* obj)
{
    void* p = nullptr;
    if (obj == nullptr || !obj->get_interface("i_script_service", &p)) return nullptr;
    return static_cast<vek::i_script_service*>(p);
}

vek::script_service* vek_cast_script_service(vek::i_object* obj)
{
    void* p = nullptr;
    if (obj == nullptr || !obj->get_interface("script_service", &p)) return nullptr;
    return static_cast<vek::script_service*>(p);
}
