// Start-up and shut-down of the library, and its own module entry.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/log.h"
#include "core/process_state.h"
#include "core/time_zone.h"
#include "events/event_proc.h"
#include "net/socket_service.h"
#include "object/thread_count.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/module.h"
#include "platform/thread.h"
#include "script/encryptor.h"
#include "util/md5_encoder.h"
#include "util/string_proc.h"
#include "util/translator.h"
#include "vek/core.h"
#include "vek/events.h"
#include "vek/script.h"
#include "vek/streams.h"
#include "vek/util/charset.h"
#include "xml/xml_proc.h"

namespace {

const char* const k_root_var = "VEK_ROOT_PATH";

// Sets "VEK_ROOT_PATH" from the current directory when it is unset.
bool ensure_root_path()
{
    if (vek::platform::get_env(k_root_var) != nullptr) return true;
    char dir[1023];
    if (!vek::platform::current_dir(dir, sizeof(dir)) || dir[0] == '\0') return false;
    for (char* p = dir; *p != '\0'; ++p) {
        if (*p == '\\') *p = '/';
    }
    return vek::platform::set_env(k_root_var, dir);
}

// The root's "tmp" directory when it exists, else "TEMP", else "TMP".
void choose_temp_path()
{
    const char* root = vek::platform::get_env(k_root_var);
    if (root != nullptr) {
        char candidate[2048];
        std::snprintf(candidate, sizeof(candidate), "%s/tmp", root);
        if (vek::platform::path_kind(candidate) == vek::platform::entry_kind::directory) {
            vek::set_temp_path(candidate);
            return;
        }
    }
    const char* temp = vek::platform::get_env("TEMP");
    if (temp == nullptr) temp = vek::platform::get_env("TMP");
    vek::set_temp_path(temp != nullptr ? temp : "");
}

// Creates a service with count 0 and registers it, so the core's map holds
// the only reference.
template <class T>
void register_new(const char* svc_type)
{
    T* svc = new (std::nothrow) T();
    if (svc != nullptr) vek::the_core()->register_service(svc, svc_type);
}

// What the library's threads still running are doing, for the shutdown's
// report: "tick; delivery: event 'X' for 12.0 s; ...".
std::string running_threads()
{
    std::string text;
    char seconds[32];
    for (const vek::thread_view& t : vek::thread_snapshot()) {
        text += (text.empty() ? "" : "; ") + t.role;
        if (t.activity.empty()) continue;
        std::snprintf(seconds, sizeof seconds, " for %.1f s", t.seconds);
        text += ": " + t.activity + seconds;
    }
    return text;
}

// Waits up to 10 wall-clock seconds for the library's threads to end,
// naming once a second those still running.
void await_threads()
{
    int count = vek::thread_count_get();
    if (count == 0) return;
    vek_trace("vek_terminate: awaiting for thread to be finished (%d)", count);
    unsigned int start = vek::platform::now_seconds();
    unsigned int reported = start;
    while (vek::thread_count_get() != 0 && vek::platform::now_seconds() - start <= 10) {
        vek::platform::sleep_ms(100);
        if (vek::platform::now_seconds() != reported && vek::thread_count_get() != 0) {
            reported = vek::platform::now_seconds();
            vek_trace("vek_terminate: still running: %s", running_threads().c_str());
        }
    }
    vek_trace("vek_terminate: threads left: %d", vek::thread_count_get());
}

}  // namespace

vek::i_core* vek_core()
{
    vek::core* c = vek::the_core();
    return c != nullptr ? static_cast<vek::i_core*>(c) : nullptr;
}

bool vek_initialize()
{
    if (vek::the_core() != nullptr) return false;
    vek::platform::init_tcl_once();
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
    vek::platform::init_time_zone();
    vek::refresh_time_zone(vek::platform::now_seconds());
    if (!ensure_root_path()) return false;
    choose_temp_path();
    vek_set_local_charset("cp1251");
    new vek::core();
    register_new<vek::xml_proc>("svc_xml");
    register_new<vek::md5_encoder>("svc_md5_encoder");
    register_new<vek::string_proc>("svc_string");
    register_new<vek::encryptor>("svc_encrypt");
    vek::set_running(true);
    return true;
}

void vek_library_entry()
{
    const char* max_threads = vek::platform::get_env("VEK_MAX_THREADS_COUNT");
    if (max_threads != nullptr && std::atoi(max_threads) > 10) vek::set_max_thread_count(std::atoi(max_threads));
    vek::set_library_entered();

    vek::core* c = vek::the_core();
    if (c == nullptr) return;
    register_new<vek::event_proc>("svc_event");
    register_new<vek::script_service>("svc_script");
    register_new<vek::translator>("svc_translator");
    register_new<vek::socket_service>("svc_socket");
    c->start_threads();
}

bool vek_library_initialized()
{
    return true;
}

const char* vek_library_name()
{
    return VEK_CORE_LIBRARY_NAME;
}

const char* vek_library_version()
{
    return VEK_CORE_LIBRARY_VERSION;
}

void vek_terminate()
{
    const auto started = std::chrono::steady_clock::now();
    vek_trace("vek_terminate()");
    vek::core* c = vek::the_core();
    if (c == nullptr) return;

    // Handlers run in this thread while every service is still there.
    vek_generate_event("VEK_CORE_EVT_TERMINATING", 0, nullptr, true);
    // From here the library's loops end and no handler runs any more.
    vek::set_running(false);
    std::vector<void*> modules = c->library_handles();

    vek_trace("core: releasing services...");
    c->release_services();
    c->libraries()->clear();
    c->stop_threads(5);

    await_threads();
    delete c;
    // A thread still running may be inside a module: its code stays mapped.
    if (vek::thread_count_get() == 0) {
        for (void* module : modules) vek::platform::unload_module(module);
    } else {
        vek_trace("vek_terminate: modules stay loaded while %d thread(s) still run", vek::thread_count_get());
    }
    vek_trace("vek_terminate: done in %.3f s",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    vek::log_close_files();
}

char* vek_get_thread_report()
{
    if (vek::thread_count_get() == 0) return nullptr;
    try {
        std::string text = running_threads();
        return strdup(text.empty() ? "unregistered thread(s)" : text.c_str());
    } catch (...) {
        return nullptr;
    }
}

void vek_set_thread_role(const char* role)
{
    if (role != nullptr) vek::thread_set_role(role);
}

unsigned int vek_get_curr_time()
{
    vek::core* c = vek::the_core();
    return c != nullptr ? c->last_tick() : 0;
}

void vek_register_stream(vek::i_stream* stream)
{
    vek::core* c = vek::the_core();
    if (c == nullptr || stream == nullptr) return;
    c->streams()->add_item(stream, false);
}
