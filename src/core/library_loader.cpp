// Loading modules into the core through the entry protocol.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/last_error.h"
#include "core/library.h"
#include "platform/env.h"
#include "platform/module.h"
#include "vek/events.h"
#include "vek/module.h"
#include "vek/util.h"

namespace vek {

namespace {

const char* const k_suffix = ".so";

// Adds "DIR/path" for each non-empty element of the ':'-separated list.
void add_under_each(std::vector<std::string>& out, const char* list, const char* path)
{
    if (list == nullptr) return;
    std::string dirs(list);
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        if (end > start) out.push_back(dirs.substr(start, end - start) + "/" + path);
        start = end + 1;
    }
}

// The absolute form of the path, then, for a relative path, the path under
// each element of "PATH", under the program's own "../lib", and under each
// element of "LD_LIBRARY_PATH". The last two come after the places the
// loader has always searched, so that an installed host finds the modules
// installed beside it.
std::vector<std::string> candidate_paths(const char* path)
{
    std::vector<std::string> out;
    char* abs = vek_get_absolute_path(path);
    if (abs != nullptr) {
        out.emplace_back(abs);
        std::free(abs);
    }
    if (path[0] == '/' || path[0] == '\\') return out;
    add_under_each(out, platform::get_env("PATH"), path);
    const std::string program_dir = platform::program_dir();
    if (!program_dir.empty()) out.push_back(program_dir + "/../lib/" + path);
    add_under_each(out, platform::get_env("LD_LIBRARY_PATH"), path);
    return out;
}

// Appends ".so" when no file exists as named and the name does not end in
// it already. False when no file exists either way.
bool resolve_file(std::string& candidate)
{
    if (vek_file_exists(candidate.c_str())) return true;
    std::size_t dot = candidate.rfind('.');
    if (dot == std::string::npos || candidate.compare(dot, std::string::npos, k_suffix) != 0) candidate += k_suffix;
    return vek_file_exists(candidate.c_str());
}

// Calls the module's entry and its readiness test. A module's exception
// stops at this boundary: it makes a failed entry, logged with its text.
// On failure `*why` says which.
bool run_entry(vek_library* lib, vek_library_entry_fn entry, vek_library_initialized_fn initialized, std::string* why)
{
    const std::string who = std::string("the entry of '") + (lib->get_name() != nullptr ? lib->get_name() : "") +
                            "' (" + lib->get_path() + ")";
    std::string what;
    try {
        entry();
        if (initialized()) return true;
        *why = who + " reported failure";
        return false;
    } catch (const std::exception& ex) {
        what = ex.what();  // the text dies with the exception
    } catch (...) {
        what = "unknown exception";
    }
    vek_log(0, "core::load_library(%s): the entry of '%s' threw: %s", lib->get_path(), lib->get_name(), what.c_str());
    *why = who + " threw: " + what;
    return false;
}

// Runs the module's entry between the two load events. True when the
// module reports itself initialised.
bool enter_module(vek_library* lib, vek_library_entry_fn entry, vek_library_initialized_fn initialized,
                  std::string* why)
{
    auto* e = new event("VEK_CORE_EVT_LOAD_LIBRARY", 0, lib);
    e->addref();
    vek_fire_event(e, true);
    bool ready = run_entry(lib, entry, initialized, why);
    if (ready) {
        e->set_event_type("VEK_CORE_EVT_POST_LOAD_LIBRARY");
        vek_fire_event(e, true);
    }
    e->release();
    return ready;
}

}  // namespace

// No lock is held while the module loads (its static constructors run) or
// while its entry and the events run, so module code may call back into the
// core freely. When two threads load one path at once, the one that lists
// it first wins and the other gives its load back.
void* core::load_library(const char* library_path)
{
    clear_last_error();
    if (library_path == nullptr || *library_path == '\0') {
        set_last_error("no library path given");
        return nullptr;
    }
    vek_trace("core::load_library(%s)", library_path);
    std::string looked, failure;
    for (std::string& candidate : candidate_paths(library_path)) {
        if (!resolve_file(candidate)) {
            looked += (looked.empty() ? "" : ", ") + candidate;
            continue;
        }
        if (void* handle = loaded_handle(candidate)) return handle;
        const char* error = nullptr;
        void* handle = platform::load_module(candidate.c_str(), &error);
        if (handle == nullptr) {
            vek_trace("Error loading library %s: %s", candidate.c_str(), error != nullptr ? error : "(null)");
            if (failure.empty()) failure = "cannot load " + candidate + ": " + (error != nullptr ? error : "(null)");
            continue;
        }
        auto entry = reinterpret_cast<vek_library_entry_fn>(platform::module_symbol(handle, "vek_library_entry"));
        auto initialized =
            reinterpret_cast<vek_library_initialized_fn>(platform::module_symbol(handle, "vek_library_initialized"));
        if (entry == nullptr || initialized == nullptr) return handle;
        vek_library* lib = list_library(handle, candidate);
        if (lib == nullptr) {
            platform::unload_module(handle);
            return loaded_handle(candidate);
        }
        vek_trace("Loaded '%s' version '%s'", lib->get_name(), lib->get_version());
        std::string why;
        bool ready = enter_module(lib, entry, initialized, &why);
        lib->release();
        if (ready) return handle;
        if (failure.empty()) failure = why;
    }
    if (failure.empty()) {
        set_last_error("library '%s' not found; looked for: %s", library_path, looked.c_str());
    } else {
        set_last_error("library '%s': %s", library_path, failure.c_str());
    }
    return nullptr;
}

}  // namespace vek

char* vek_find_library(const char* library_path)
{
    vek::clear_last_error();
    if (library_path == nullptr || *library_path == '\0') {
        vek::set_last_error("no library path given");
        return nullptr;
    }
    try {
        std::string looked;
        for (std::string& candidate : vek::candidate_paths(library_path)) {
            if (vek::resolve_file(candidate)) return strdup(candidate.c_str());
            looked += (looked.empty() ? "" : ", ") + candidate;
        }
        vek::set_last_error("library '%s' not found; looked for: %s", library_path, looked.c_str());
    } catch (...) {
        vek::set_last_error("out of memory");
    }
    return nullptr;
}

namespace vek {

vek_library* core::list_library(void* handle, const std::string& path)
{
    mutex_locker lock(this);
    if (loaded_handle(path) != nullptr) return nullptr;
    auto* lib = new vek_library(handle, path.c_str());
    lib->addref();
    m_libraries->add_item(lib, false);
    return lib;
}

void* core::loaded_handle(const std::string& path)
{
    mutex_locker lock(this);
    unsigned int count = m_libraries->get_count();
    for (unsigned int i = 0; i < count; ++i) {
        i_object* item = m_libraries->get_item_by_pos(i);
        i_vek_library* lib = vek_cast_i_vek_library(item);
        void* handle = lib != nullptr && path == lib->get_path() ? lib->get_handle() : nullptr;
        vek_release(item);
        if (handle != nullptr) return handle;
    }
    return nullptr;
}

std::vector<void*> core::library_handles()
{
    std::vector<void*> handles;
    mutex_locker lock(this);
    unsigned int count = m_libraries->get_count();
    for (unsigned int i = 0; i < count; ++i) {
        i_object* item = m_libraries->get_item_by_pos(i);
        if (i_vek_library* lib = vek_cast_i_vek_library(item)) handles.push_back(lib->get_handle());
        vek_release(item);
    }
    return handles;
}

}  // namespace vek
