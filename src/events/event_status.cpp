// The event processor's part of the status snapshot.
#include "core/status_tree.h"
#include "events/event_proc.h"

namespace vek {

void event_proc::add_status(i_xml_node* status)
{
    auto_ptr_t<i_object> svc = vek_core()->get_service("svc_xml");
    i_xml_proc* xml = vek_cast_i_xml_proc(svc);
    if (xml == nullptr) return;
    status_tree tree(xml);
    auto_ptr_t<i_xml_node> events = tree.add(status, "events");
    const event_backlog b = backlog();
    status_tree::set(events, "queued", b.queued);
    status_tree::set_seconds(events, "oldest", static_cast<double>(b.oldest_us) / 1e6);
    status_tree::set(events, "busy", static_cast<unsigned long long>(b.busy));
    status_tree::set(events, "idle", static_cast<unsigned long long>(b.idle));
    status_tree::set(events, "dropped", b.dropped);
    for (const auto& count : m_handlers.counts()) {
        auto_ptr_t<i_xml_node> type = tree.add(events, "type");
        status_tree::set(type, "name", type_name(count.first));
        status_tree::set(type, "number", static_cast<unsigned long long>(count.first));
        status_tree::set(type, "handlers", static_cast<unsigned long long>(count.second));
    }
}

}  // namespace vek
