// Environment files: applying one to the process environment, the watch
// list that reads changed files again, and vek_load_environment.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/env_loader.h"
#include "core/last_error.h"
#include "object/cast_impl.h"
#include "object/interface_query.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "vek/core.h"
#include "vek/events.h"
#include "vek/object/cast.h"
#include "vek/util.h"

namespace vek {

namespace {

const char* const k_service_name = "env_config_reloader";
const char* const k_tick_event = "VEK_CORE_EVT_BG_TASK";

// Follows the stamp of a file whose last line had no line end when it was
// read (a writer may be in the middle of that line), then the second of the
// core's clock when that was seen.
const char* const k_unfinished = " unfinished since ";

// The file's version as the watch list keeps it: modification time to the
// nanosecond, size, device and inode. False when its status cannot be read.
bool stamp_text(const char* path, std::string& out)
{
    platform::file_stamp st;
    if (!platform::stamp_file(path, &st)) return false;
    char text[96];
    std::snprintf(text, sizeof text, "%lld.%09ld %lld %llu:%llu", st.seconds, st.nanoseconds, st.size, st.device,
                  st.inode);
    out = text;
    return true;
}

bool ends_its_last_line(i_binary* bytes)
{
    unsigned int size = bytes->get_data_size();
    const char* data = static_cast<const char*>(bytes->get_data());
    return size == 0 || data[size - 1] == '\n' || data[size - 1] == '\r';
}

// Applies every assignment of the file read from `path`. False when
// "svc_string" is missing.
bool apply_env_text(const char* path, i_binary* bytes)
{
    i_core* core = vek_core();
    if (core == nullptr) return false;
    auto_ptr_t<i_object> svc = core->get_service("svc_string");
    i_string_proc* proc = vek_cast_i_string_proc(svc);
    if (proc == nullptr) return false;
    parse_env_text(
        static_cast<const char*>(bytes->get_data()), bytes->get_data_size(),
        [&](const env_assignment& a) {
            char* value = proc->process(a.value, nullptr);
            if (value == nullptr || !platform::set_env(a.name, value, !a.only_if_unset)) {
                vek_trace("Environment file '%s': Error setting environment from line: %.*s", path,
                          static_cast<int>(a.line_length), a.line);
            }
            std::free(value);
        },
        [&](unsigned int number, const char* reason) {
            vek_trace("Environment file '%s', line %u: %s, line skipped", path, number, reason);
        });
    return true;
}

// Reads the file at `path` and applies it. False when it cannot be read or
// "svc_string" is missing.
bool apply_env_file(const char* path)
{
    auto_ptr_t<i_binary> bytes = vek_read_binary_file(path);
    return bytes.is_ok() && apply_env_text(path, bytes);
}

}  // namespace

env_config_reloader::env_config_reloader() : m_files(new (std::nothrow) object_col()), m_checks(0)
{
    if (m_files != nullptr) m_files->addref();
    vek_install_handler(k_tick_event, 0, this, static_cast<vek_event_function>(&env_config_reloader::on_bg_task));
}

env_config_reloader::~env_config_reloader()
{
    vek_uninstall_handler(k_tick_event, 0, this, static_cast<vek_event_function>(&env_config_reloader::on_bg_task));
    // A delivery that picked the handler before the uninstall may still be
    // in it.
    while (m_checks.load() != 0) platform::sleep_ms(1);
    if (m_files != nullptr) m_files->release();
}

bool env_config_reloader::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, k_service_name)) return answer(pp_obj, this);
    return object::get_interface(iface_name, pp_obj);
}

void env_config_reloader::add_file(const char* path)
{
    char* absolute = vek_get_absolute_path(path);
    if (absolute == nullptr) return;
    std::string stamp;
    if (m_files != nullptr && vek_file_exists(absolute)) {
        mutex_locker lock(m_files);
        if (m_files->get_item_pos(absolute) < 0 && stamp_text(absolute, stamp)) {
            named_string* entry = new (std::nothrow) named_string(absolute, stamp.c_str());
            if (entry != nullptr) m_files->add_item(entry, false);
        }
    }
    std::free(absolute);
}

bool env_config_reloader::on_bg_task(i_event*)
{
    ++m_checks;
    try {
        // A copy, so that add_file may run while the files are read.
        auto_ptr_t<object_col> files = m_files != nullptr ? m_files->copy() : nullptr;
        for (unsigned int pos = 0; files.is_ok() && pos < files->get_count(); ++pos) {
            auto_ptr_t<i_object> item = files->get_item_by_pos(pos);
            i_named_string* entry = vek_cast_i_named_string(item);
            if (entry != nullptr) check_file(entry);
        }
    } catch (const std::bad_alloc&) {
        // The next tick checks again.
    }
    --m_checks;
    return true;
}

// The stamp is taken before the file is read, so a change made while it is
// read gives a new stamp and the next tick reads the file again. A file
// whose last line has no line end is held back until it has stayed
// unchanged for a whole second: its writer may be in the middle of that
// line.
void env_config_reloader::check_file(i_named_string* entry)
{
    const char* path = entry->get_name();
    std::string stamp;
    bool settled = false;
    {
        // The stamp is read under the lock too: a check that read it
        // earlier must not store an older stamp over a newer one.
        mutex_locker lock(m_files);
        if (!stamp_text(path, stamp)) return;  // gone for now; it stays listed
        std::string kept = entry->get_value();
        if (stamp == kept) return;
        std::string held = stamp + k_unfinished;
        if (kept.compare(0, held.size(), held) == 0) {
            unsigned long since = std::strtoul(kept.c_str() + held.size(), nullptr, 10);
            if (vek_get_curr_time() < since + 2) return;
            settled = true;
        }
        entry->set_value(stamp.c_str());
    }
    auto_ptr_t<i_binary> bytes = vek_read_binary_file(path);
    if (!bytes.is_ok()) return;
    if (!settled && !ends_its_last_line(bytes)) {
        mutex_locker lock(m_files);
        if (stamp != entry->get_value()) return;
        entry->set_value((stamp + k_unfinished + std::to_string(vek_get_curr_time())).c_str());
        vek_trace("Environment file '%s': its last line has no line end yet, waiting", path);
        return;
    }
    vek_trace("Reloading environment configuration file '%s'", path);
    if (apply_env_text(path, bytes)) vek_generate_event("VEK_CORE_EVT_ENV_UPDATED", 0, nullptr, false);
}

}  // namespace vek

bool vek_load_environment(const char* path)
{
    vek::clear_last_error();
    if (path == nullptr) {
        vek::set_last_error("no environment file given");
        return false;
    }
    vek_trace("vek_load_environment('%s')", path);
    if (!vek::apply_env_file(path)) {
        char* absolute = vek_get_absolute_path(path);
        const char* shown = absolute != nullptr ? absolute : path;
        std::string problem = vek::platform::read_problem(shown);
        vek::set_last_error("cannot read environment file '%s': %s", shown,
                            problem.empty() ? "its variables could not be set" : problem.c_str());
        std::free(absolute);
        return false;
    }

    vek::i_core* core = vek_core();
    auto_ptr_t<vek::i_object> svc = core->get_service(vek::k_service_name);
    if (vek_cast_env_config_reloader(svc) == nullptr) {
        auto* fresh = new (std::nothrow) vek::env_config_reloader();
        if (fresh != nullptr) {
            fresh->addref();
            core->register_service(fresh, vek::k_service_name);
            fresh->release();
        }
        // Another thread may have registered its reloader first.
        svc = core->get_service(vek::k_service_name);
    }
    vek::env_config_reloader* reloader = vek_cast_env_config_reloader(svc);
    if (reloader != nullptr) reloader->add_file(path);
    return true;
}

VEK_DEFINE_CAST(vek::env_config_reloader, env_config_reloader)
