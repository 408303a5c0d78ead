// The core's part of the status snapshot: services, libraries, streams.
#include "core/core.h"
#include "core/status_tree.h"
#include "vek/core.h"

namespace vek {

void add_core_status(status_tree& tree, i_xml_node* status)
{
    core* c = the_core();
    if (c == nullptr) return;
    auto_ptr_t<i_xml_node> services = tree.add(status, "services");
    for (const std::string& name : c->service_names()) {
        auto_ptr_t<i_xml_node> svc = tree.add(services, "service");
        status_tree::set(svc, "name", name);
    }
    auto_ptr_t<i_xml_node> libraries = tree.add(status, "libraries");
    auto_ptr_t<i_object_col> libs = c->get_libraries();
    for (unsigned int i = 0; libs.is_ok() && i < libs->get_count(); ++i) {
        auto_ptr_t<i_object> item = libs->get_item_by_pos(i);
        i_vek_library* lib = vek_cast_i_vek_library(item);
        if (lib == nullptr) continue;
        auto_ptr_t<i_xml_node> node = tree.add(libraries, "library");
        status_tree::set(node, "name", std::string(lib->get_name() != nullptr ? lib->get_name() : ""));
        status_tree::set(node, "version", std::string(lib->get_version()));
        status_tree::set(node, "path", std::string(lib->get_path()));
    }
    auto_ptr_t<i_xml_node> streams = tree.add(status, "streams");
    status_tree::set(streams, "registered", static_cast<unsigned long long>(c->streams()->get_count()));
}

}  // namespace vek
