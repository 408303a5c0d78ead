// Application start: the environment file, then the plug-ins and the sites
// it lists, each a directory whose start.tcl runs in the calling thread's
// script engine.
//
// A start script talks to the loader through four variables of the
// engine's namespace, <kind>_name, _root, _error and _status: the loader
// sets them before the script runs, and the script sets a non-zero status
// on success or an error text on failure.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/last_error.h"
#include "platform/env.h"
#include "script/tcl_quote.h"
#include "vek/core.h"
#include "vek/script.h"
#include "vek/util.h"

namespace {

using vek::i_script_engine;

const char* shown(const char* text)
{
    return text != nullptr ? text : "(null)";
}

// The calling thread's engine and the service that gave it, released
// together when the holder goes.
class engine_holder {
public:
    engine_holder()
    {
        if (vek_core() == nullptr) return;
        m_service = vek_core()->get_service("svc_script");
        vek::i_script_service* svc = vek_cast_i_script_service(m_service);
        if (svc != nullptr) m_engine = svc->get_script_engine();
    }
    ~engine_holder()
    {
        vek_release(m_engine);
        vek_release(m_service);
    }
    engine_holder(const engine_holder&) = delete;
    engine_holder& operator=(const engine_holder&) = delete;

    // No reference added: owned by the holder; null without one.
    i_script_engine* engine() const { return m_engine; }

private:
    vek::i_object* m_service = nullptr;
    i_script_engine* m_engine = nullptr;
};

// `text` split at `sep`; empty parts are dropped.
std::vector<std::string> split(const char* text, char sep)
{
    std::vector<std::string> parts;
    const char* start = text;
    for (const char* p = text;; ++p) {
        if (*p != sep && *p != 0) continue;
        if (p != start) parts.emplace_back(start, p);
        if (*p == 0) break;
        start = p + 1;
    }
    return parts;
}

// What the engine printed since the last reset, evaluating `text` after a
// reset; "" when the text fails.
std::string printed(i_script_engine* engine, const std::string& text)
{
    engine->reset();
    if (!engine->execute_text(text.c_str())) return "";
    const char* out = engine->get_output();
    return out != nullptr ? out : "";
}

// Runs the start script of package `name` in `root` under the status
// protocol.
bool start_package(i_script_engine* engine, const char* kind, const char* name, const std::string& root)
{
    const std::string k(kind);
    const std::string quoted_name = vek::tcl_quoted(name);
    engine->execute_text(("set " + k + "_name \"" + quoted_name + "\"").c_str());
    engine->execute_text(("set " + k + "_root \"" + vek::tcl_quoted(root.c_str()) + "/" + quoted_name + "\"").c_str());
    engine->execute_text(("set " + k + "_error \"\"").c_str());
    engine->execute_text(("set " + k + "_status 0").c_str());

    const std::string script = root + "/" + name + "/start.tcl";
    if (!engine->execute_file(script.c_str(), nullptr, nullptr)) {
        vek_log(0, "vek_load_%s('%s'). Error loading %s. %s", kind, name, kind, engine->get_error());
        vek::set_last_error("%s '%s': %s: %s", kind, name, script.c_str(), engine->get_error());
        return false;
    }
    if (std::atoi(printed(engine, "puts $" + k + "_status").c_str()) != 0) return true;
    const std::string error = printed(engine, "puts $" + k + "_error");
    vek_log(0, "vek_load_%s('%s'). Error loading %s. %s", kind, name, kind, error.c_str());
    vek::set_last_error("%s '%s': its start script reported failure: %s", kind, name, error.c_str());
    return false;
}

// Finds package `name` of `kind`: sets `*root` to the first root holding
// its start.tcl. Traces the reason, and sets it as the thread's last
// error, when there is none.
bool locate_package(const char* name, const char* kind, std::string* root)
{
    if (name == nullptr || *name == 0) {
        vek_trace("vek_load_%s: error loading %s with empty name", kind, kind);
        vek::set_last_error("a %s with an empty name", kind);
        return false;
    }
    std::string upper(kind);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string var = "VEK_" + upper + "S_ROOT";
    const char* value = vek::platform::get_env(var.c_str());
    // The list is made absolute as one text, so only its first root is
    // sure to be absolute; the rest are taken as written.
    const std::string roots_text = value != nullptr ? value : "${VEK_ROOT_PATH}/" + std::string(kind) + "s";
    char* roots = vek_get_absolute_path(roots_text.c_str());
    if (roots == nullptr) {
        vek_trace("vek_load_%s('%s'): Invalid %ss path pointed by environment variable '%s'", kind, name, kind,
                  var.c_str());
        vek::set_last_error("%s '%s': %s is not a valid path", kind, name, var.c_str());
        return false;
    }
    const std::string roots_shown(roots);
    std::vector<std::string> list = split(roots, ';');
    std::free(roots);
    for (const std::string& r : list) {
        if (vek_file_exists((r + "/" + name + "/start.tcl").c_str())) {
            *root = r;
            return true;
        }
    }
    vek_trace("vek_load_%s('%s'): Could not find %s directory.", kind, name, kind);
    vek::set_last_error("%s '%s': no %s/start.tcl under %s", kind, name, name, roots_shown.c_str());
    return false;
}

bool load_resource(const char* name, const char* kind, i_script_engine* engine)
{
    if (engine == nullptr) {
        vek_trace("vek_load_%s('%s'): Error fetching script engine. Check if vek_core library is loaded into core.",
                  kind, shown(name));
        vek::set_last_error("%s '%s': no script engine (is vek_core loaded into the core?)", kind, shown(name));
        return false;
    }
    std::string root;
    return locate_package(name, kind, &root) && start_package(engine, kind, name, root);
}

bool load_one(const char* name, const char* kind)
{
    engine_holder holder;
    return load_resource(name, kind, holder.engine());
}

bool start_plugins(i_script_engine* engine)
{
    const char* list = vek::platform::get_env("VEK_PLUGINS_LIST");
    if (list == nullptr) return true;
    for (const std::string& name : split(list, ',')) {
        vek_trace("Loading VEK plugin: '%s'...", name.c_str());
        if (!load_resource(name.c_str(), "plugin", engine)) {
            vek_log(0, "Error: couldn`t load VEK plugin: '%s'.", name.c_str());
            return false;
        }
    }
    return true;
}

bool start_sites(i_script_engine* engine)
{
    const char* list = vek::platform::get_env("VEK_SITES_LIST");
    if (list == nullptr) return true;
    bool first = true;
    for (const std::string& name : split(list, ',')) {
        if (first) {
            first = false;
            if (vek_core() == nullptr || vek_core()->load_library("vek_http") == nullptr) {
                vek_log(0, "Error: couldn`t load vek_http module into core.");
                const std::string why = vek_get_last_error();
                vek::set_last_error("the sites need vek_http: %s", why.c_str());
                return false;
            }
        }
        vek_trace("Loading VEK site: '%s'...", name.c_str());
        if (!load_resource(name.c_str(), "site", engine)) {
            vek_log(0, "Error: couldn`t load VEK site: '%s'.", name.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

bool vek_load_resource(const char* name, const char* kind, vek::i_script_engine* engine)
{
    if (kind == nullptr) return false;
    try {
        return load_resource(name, kind, engine);
    } catch (...) {
        vek_trace("vek_load_%s('%s'): out of memory", kind, shown(name));
        return false;
    }
}

char* vek_find_start_script(const char* name, const char* kind)
{
    vek::clear_last_error();
    if (kind == nullptr) return nullptr;
    try {
        std::string root;
        return locate_package(name, kind, &root) ? strdup((root + "/" + name + "/start.tcl").c_str()) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

bool vek_load_plugin(const char* plugin_name)
{
    try {
        return load_one(plugin_name, "plugin");
    } catch (...) {
        vek_trace("vek_load_plugin('%s'): out of memory", shown(plugin_name));
        return false;
    }
}

bool vek_load_site(const char* site_name)
{
    try {
        return load_one(site_name, "site");
    } catch (...) {
        vek_trace("vek_load_site('%s'): out of memory", shown(site_name));
        return false;
    }
}

bool vek_init_app(const char* env_path)
{
    vek_log(0, "vek_init_app('%s')", shown(env_path));
    if (!vek_load_environment(env_path)) {
        vek_log(0, "vek_init_app: Error loading environment");
        return false;
    }
    try {
        engine_holder holder;
        return start_plugins(holder.engine()) && start_sites(holder.engine());
    } catch (...) {
        vek_trace("vek_init_app: out of memory");
        vek::set_last_error("out of memory");
        return false;
    }
}
