// The live status snapshot: the core's own parts, then each subsystem's,
// then those of the services that are status sources.
#include <cstdio>
#include <ctime>

#include "core/core.h"
#include "core/process_state.h"
#include "core/status_tree.h"
#include "object/thread_count.h"
#include "platform/clock.h"
#include "vek/core.h"
#include "vek/status.h"

namespace vek {

void add_thread_status(status_tree& tree, i_xml_node* status)
{
    auto_ptr_t<i_xml_node> threads = tree.add(status, "threads");
    if (!threads.is_ok()) return;
    status_tree::set(threads, "count", static_cast<unsigned long long>(thread_count_get()));
    status_tree::set(threads, "limit", static_cast<unsigned long long>(max_thread_count()));
    for (const thread_view& t : thread_snapshot()) {
        auto_ptr_t<i_xml_node> thread = tree.add(threads, "thread");
        status_tree::set(thread, "role", t.role);
        if (t.activity.empty()) {
            status_tree::set(thread, "state", std::string("idle"));
            continue;
        }
        status_tree::set(thread, "state", std::string("busy"));
        status_tree::set(thread, "doing", t.activity);
        status_tree::set_seconds(thread, "for", t.seconds);
    }
}

namespace {

// The services that are status sources add their own parts.
void add_source_status(i_core* core, i_xml_node* status)
{
    auto_ptr_t<i_object_col> services = core->get_services();
    for (unsigned int i = 0; services.is_ok() && i < services->get_count(); ++i) {
        auto_ptr_t<i_object> svc = services->get_item_by_pos(i);
        void* source = nullptr;
        if (svc.is_ok() && svc->get_interface("i_status_source", &source))
            static_cast<i_status_source*>(source)->add_status(status);
    }
}

}  // namespace

}  // namespace vek

vek::i_xml_node* vek_get_status()
{
    vek::i_core* core = vek_core();
    if (core == nullptr) return nullptr;
    auto_ptr_t<vek::i_object> svc = core->get_service("svc_xml");
    vek::i_xml_proc* xml = vek_cast_i_xml_proc(svc);
    vek::i_xml_node* status = xml != nullptr ? xml->create_node("status") : nullptr;
    if (status == nullptr) return nullptr;
    try {
        char now[32];
        std::time_t t = std::time(nullptr);
        std::tm local{};
        if (!vek::platform::local_time(t, &local) || std::strftime(now, sizeof now, "%Y/%m/%d %H:%M:%S", &local) == 0)
            now[0] = 0;
        vek::status_tree::set(status, "time", std::string(now));
        vek::status_tree::set(status, "version", std::string(vek_library_version()));
        vek::status_tree tree(xml);
        vek::add_core_status(tree, status);
        vek::add_thread_status(tree, status);
        vek::add_source_status(core, status);
    } catch (...) {
        // Out of memory: the parts made so far.
    }
    return status;
}
