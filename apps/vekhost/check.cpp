#include "check.h"

#include <strings.h>
#include <tcl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <vek/vek_core.h>

#include "config_file.h"
#include "module_file.h"

namespace vekhost {

namespace {

using heap_text = std::unique_ptr<char, decltype(&std::free)>;

class report {
public:
    explicit report(std::string file) : m_file(std::move(file)) {}
    void warning(unsigned long line, const std::string& text) { problem(line, "warning", text), ++m_warnings; }
    void error(unsigned long line, const std::string& text) { problem(line, "error", text), ++m_errors; }
    void info(const std::string& text) { std::printf("  %s\n", text.c_str()); }
    int finish() const
    {
        std::printf("vekhost --check: %u error(s), %u warning(s)\n", m_errors, m_warnings);
        return m_errors > 0 ? k_failed : m_warnings > 0 ? k_warnings : k_ok;
    }
    void set_file(std::string file) { m_file = std::move(file); }

private:
    void problem(unsigned long line, const char* kind, const std::string& text)
    {
        if (line > 0) {
            std::printf("%s:%lu: %s: %s\n", m_file.c_str(), line, kind, text.c_str());
        } else {
            std::printf("%s: %s: %s\n", m_file.c_str(), kind, text.c_str());
        }
    }
    std::string m_file;
    unsigned int m_errors = 0, m_warnings = 0;
};

bool applies_here(const config_element& e)
{
    return e.attribute("platform").empty() || strcasecmp(e.attribute("platform").c_str(), "linux") == 0;
}

// Sets the variables as a run would.
void set_variables(const config_doc& doc, report& out)
{
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("svc_string");
    vek::i_string_proc* proc = vek_cast_i_string_proc(svc);
    for (const config_element& e : doc.elements) {
        if (e.name != "variable" || e.parent != "variables" || !applies_here(e) || proc == nullptr) continue;
        const char* value = e.attribute("value").c_str();
        heap_text formed(e.attribute("type") == "path" ? vek_get_absolute_path(value) : proc->process(value, nullptr),
                         &std::free);
        if (formed == nullptr || setenv(e.attribute("name").c_str(), formed.get(), 1) != 0) {
            out.warning(e.line, "variable '" + e.attribute("name") + "' would not be set");
            continue;
        }
        out.info("variable " + e.attribute("name") + " = " + formed.get());
    }
}

// Whether the text is a whole decimal integer (what the loader reads as a
// priority without guessing).
bool is_number(const std::string& text)
{
    size_t i = text.find_first_not_of(" \t");
    if (i != std::string::npos && (text[i] == '-' || text[i] == '+')) ++i;
    return i != std::string::npos && i < text.size() && text.find_first_not_of("0123456789", i) == std::string::npos;
}

void check_libraries(const config_doc& doc, report& out)
{
    std::vector<const config_element*> libs;
    for (const config_element& e : doc.elements) {
        if (e.name != "library" || e.parent != "libraries" || !applies_here(e)) continue;
        libs.push_back(&e);
        const std::string& priority = e.attribute("priority");
        if (!priority.empty() && !is_number(priority))
            out.warning(e.line, "library '" + e.attribute("path") + "': priority '" + priority +
                                    "' is not a number; read as " + std::to_string(std::atoi(priority.c_str())));
    }
    std::stable_sort(libs.begin(), libs.end(), [](const config_element* a, const config_element* b) {
        return std::atoi(a->attribute("priority").c_str()) > std::atoi(b->attribute("priority").c_str());
    });
    for (const config_element* e : libs) {
        const std::string& path = e->attribute("path");
        const std::string& priority = e->attribute("priority");
        const bool optional = std::atoi(e->attribute("ignore_error").c_str()) != 0;
        if (std::atoi(priority.c_str()) < 0) {
            out.info("library '" + path + "' is never loaded (negative priority)");
            continue;
        }
        heap_text found(vek_find_library(path.c_str()), &std::free);
        std::string why = found != nullptr ? check_module_file(found.get(), "vek_library_entry") : "";
        if (found == nullptr || !why.empty()) {
            std::string text = found == nullptr ? std::string(vek_get_last_error())
                                                : "library '" + path + "': " + found.get() + ": " + why;
            optional ? out.warning(e->line, text + " (ignore_error is set)") : out.error(e->line, text);
            continue;
        }
        out.info("library '" + path + "' (priority " + std::to_string(std::atoi(priority.c_str())) + ") loads " +
                 found.get());
    }
}

// Plug-ins and sites listed in `variable`, each with a complete start.tcl.
void check_packages(const char* kind, const char* variable, report& out)
{
    const char* list = std::getenv(variable);
    std::stringstream names(list != nullptr ? list : "");
    for (std::string name; std::getline(names, name, ',');) {
        if (name.empty()) continue;
        heap_text script(vek_find_start_script(name.c_str(), kind), &std::free);
        if (script == nullptr) {
            out.error(0, vek_get_last_error());
            continue;
        }
        std::ifstream in(script.get(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            out.error(0, std::string(kind) + " '" + name + "': " + script.get() + " cannot be read");
        } else if (!Tcl_CommandComplete(text.c_str())) {
            out.error(0, std::string(kind) + " '" + name + "': " + script.get() + " is not a complete Tcl script");
        } else {
            out.info(std::string(kind) + " '" + name + "' starts " + script.get());
        }
    }
}

}  // namespace

int run_check(const options& opts)
{
    const std::string config = from_working_dir(opts.config);
    config_doc doc;
    std::string error;
    report out(config);
    std::printf("vekhost --check %s%s%s\n", config.c_str(), opts.env_file.empty() ? "" : " ", opts.env_file.c_str());
    if (!read_config_file(config, &doc, &error)) {
        std::printf("%s: error: %s\n", config.c_str(), error.c_str());
        std::printf("vekhost --check: 1 error(s), 0 warning(s)\n");
        return k_failed;
    }
    if (opts.trace.empty()) vek_enable_trace(false);
    if (!vek_initialize()) {
        std::fputs("vekhost: cannot initialise the library\n", stderr);
        return k_failed;
    }
    for (const auto& [line, text] : config_warnings(doc)) out.warning(line, text);
    set_variables(doc, out);
    check_libraries(doc, out);
    if (!opts.env_file.empty()) {
        const std::string env = from_working_dir(opts.env_file);
        out.set_file(env);
        if (!vek_load_environment(env.c_str())) {
            out.error(0, vek_get_last_error());
        } else {
            check_packages("plugin", "VEK_PLUGINS_LIST", out);
            check_packages("site", "VEK_SITES_LIST", out);
            const char* sites = std::getenv("VEK_SITES_LIST");
            if (sites != nullptr && std::strspn(sites, ",") < std::strlen(sites)) {
                heap_text http(vek_find_library("vek_http"), &std::free);
                std::string why = http != nullptr ? check_module_file(http.get(), "vek_library_entry") : "";
                if (http == nullptr || !why.empty())
                    out.error(0, "the sites need vek_http: " +
                                     (http == nullptr ? std::string(vek_get_last_error()) : http.get() + (": " + why)));
            }
        }
    }
    vek_terminate();
    return out.finish();
}

}  // namespace vekhost
