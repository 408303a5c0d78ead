// The configuration file: environment variables to set and libraries to
// load, highest priority first.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/last_error.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "vek/core.h"
#include "vek/util.h"
#include "vek/xml.h"

namespace {

// The platform an element's "platform" attribute must name (compared
// without regard to case) for the element to apply here.
const char* const k_platform_name = "linux";

bool equals_ignoring_case(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

// An element without a platform, or with an empty one, applies everywhere.
bool applies_here(vek::i_xml_node* node)
{
    const char* platform = node->get_attribute("platform");
    return *platform == '\0' || equals_ignoring_case(platform, k_platform_name);
}

// New reference: caller releases. The item at `pos` as an XML node, or null.
vek::i_xml_node* node_at(vek::i_object_col* col, unsigned int pos)
{
    auto_ptr_t<vek::i_object> item = col->get_item_by_pos(pos);
    vek::i_xml_node* node = vek_cast_i_xml_node(item);
    if (node != nullptr) node->addref();
    return node;
}

// Sets each variable before reading the next, so a value may refer to the
// variables above it. A value that cannot be formed leaves its variable
// alone; a name the environment cannot hold is traced and skipped.
void set_variables(const char* file, vek::i_object_col* variables, vek::i_string_proc* proc)
{
    unsigned int count = variables->get_count();
    for (unsigned int i = 0; i < count; ++i) {
        auto_ptr_t<vek::i_xml_node> var = node_at(variables, i);
        if (!var.is_ok() || !applies_here(var)) continue;
        const char* value = var->get_attribute("value");
        char* formed = std::strcmp(var->get_attribute("type"), "path") == 0 ? vek_get_absolute_path(value)
                                                                            : proc->process(value, nullptr);
        if (formed == nullptr) continue;
        const char* name = var->get_attribute("name");
        if (!vek::platform::set_env(name, formed)) {
            vek_trace("vek_load_config(%s): variable '%s' not set: invalid name", file, name);
        }
        std::free(formed);
    }
}

// The "priority" attribute read as atoi reads it (leading blanks, a sign,
// digits, the rest ignored). False when the number does not fit an int,
// where atoi would give a wrapped value.
bool read_priority(vek::i_xml_node* lib, int* priority)
{
    errno = 0;
    long value = std::strtol(lib->get_attribute("priority"), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
    *priority = static_cast<int>(value);
    return true;
}

// Traces each library that applies here with a priority out of range and
// takes it out of the document. False when one of them has no
// "ignore_error": the configuration is then refused before anything loads.
bool drop_bad_priorities(const char* file, vek::i_object_col* libs)
{
    bool ok = true;
    unsigned int count = libs->get_count();
    for (unsigned int i = 0; i < count; ++i) {
        auto_ptr_t<vek::i_xml_node> lib = node_at(libs, i);
        int priority = 0;
        if (!lib.is_ok() || !applies_here(lib) || read_priority(lib, &priority)) continue;
        vek_trace("vek_load_config(%s): library '%s': priority '%s' is out of range", file, lib->get_attribute("path"),
                  lib->get_attribute("priority"));
        if (std::atoi(lib->get_attribute("ignore_error")) == 0) {
            vek::set_last_error("library '%s': priority '%s' is out of range", lib->get_attribute("path"),
                                lib->get_attribute("priority"));
            ok = false;
        }
        auto_ptr_t<vek::i_xml_node> parent = lib->get_parent_node();
        if (parent.is_ok()) parent->remove_child(lib);
    }
    return ok;
}

// New reference: caller releases. The library to load next: the highest
// priority of 0 or more among the elements that apply here, the first in
// document order on a tie; null when none qualifies.
vek::i_xml_node* pick_library(vek::i_object_col* libs)
{
    vek::i_xml_node* best = nullptr;
    int best_priority = -1;
    unsigned int count = libs->get_count();
    for (unsigned int i = 0; i < count; ++i) {
        vek::i_xml_node* lib = node_at(libs, i);
        if (lib == nullptr) continue;
        int priority = -1;
        if (read_priority(lib, &priority) && priority > best_priority && applies_here(lib)) {
            vek_release(best);
            best = lib;
            best_priority = priority;
        } else {
            lib->release();
        }
    }
    return best;
}

// Loads the libraries in priority order, taking each out of the document
// once it is done. False when a library without "ignore_error" fails; the
// ones loaded before it stay loaded.
bool load_libraries(const char* file, vek::i_xml_node* root, vek::i_xml_node* libraries)
{
    auto_ptr_t<vek::i_object_col> selected = root->select_nodes("libraries/library");
    if (selected.is_ok() && !drop_bad_priorities(file, selected)) return false;
    if (selected.is_ok()) selected = root->select_nodes("libraries/library");
    while (selected.is_ok()) {
        auto_ptr_t<vek::i_xml_node> lib = pick_library(selected);
        if (!lib.is_ok()) return true;
        void* handle = vek_core()->load_library(lib->get_attribute("path"));
        if (handle == nullptr && std::atoi(lib->get_attribute("ignore_error")) == 0) return false;  // its reason stays
        libraries->remove_child(lib);
        // A picked element that sits in a later "libraries" element would
        // be picked again for ever; taking it from its own parent ends that.
        auto_ptr_t<vek::i_xml_node> parent = lib->get_parent_node();
        if (parent.is_ok()) parent->remove_child(lib);
        selected = root->select_nodes("./libraries/library");
    }
    return true;
}

// Sets the reason a configuration file gave no document.
void explain_unparsed(const char* path)
{
    char* absolute = vek_get_absolute_path(path);
    const char* shown = absolute != nullptr ? absolute : path;
    std::string problem = vek::platform::read_problem(shown);
    if (problem.empty()) {
        vek::set_last_error("configuration '%s' is not well-formed XML", shown);
    } else {
        vek::set_last_error("cannot read configuration '%s': %s", shown, problem.c_str());
    }
    std::free(absolute);
}

}  // namespace

bool vek_load_config(const char* file_path)
{
    vek::clear_last_error();
    vek::i_core* core = vek_core();
    if (core == nullptr) {
        vek::set_last_error("the library is not initialised");
        return false;
    }
    vek_trace("vek_load_config(%s)", file_path != nullptr ? file_path : "(null)");

    auto_ptr_t<vek::i_object> xml_svc = core->get_service("svc_xml");
    auto_ptr_t<vek::i_object> string_svc = core->get_service("svc_string");
    vek::i_xml_proc* xml = vek_cast_i_xml_proc(xml_svc);
    vek::i_string_proc* proc = vek_cast_i_string_proc(string_svc);
    if (xml == nullptr || proc == nullptr || file_path == nullptr) {
        vek::set_last_error(file_path == nullptr ? "no configuration file given"
                                                 : "the services svc_xml and svc_string are not registered");
        return false;
    }

    char* processed = proc->process(file_path, nullptr);
    if (processed == nullptr) {
        vek::set_last_error("configuration '%s': its name cannot be expanded", file_path);
        return false;
    }
    auto_ptr_t<vek::i_xml_node> root = xml->parse_file(processed);
    if (!root.is_ok()) explain_unparsed(processed);
    std::free(processed);
    if (!root.is_ok()) return false;

    auto_ptr_t<vek::i_object_col> variables = root->select_nodes("variables/variable");
    auto_ptr_t<vek::i_xml_node> libraries = root->select_single_node("libraries");
    if (variables.is_ok()) set_variables(file_path, variables, proc);
    return libraries.is_ok() ? load_libraries(file_path, root, libraries) : true;
}
