// Building the status snapshot: small helpers for its elements, and the
// parts each subsystem adds. Each part reads its subsystem under that
// subsystem's own lock and adds its elements with no lock held.
#ifndef VEK_CORE_STATUS_TREE_H
#define VEK_CORE_STATUS_TREE_H

#include <string>

#include "vek/xml.h"

namespace vek {

class status_tree {
public:
    explicit status_tree(i_xml_proc* xml) : m_xml(xml) {}
    // New reference: caller releases. A new element `name` under `parent`;
    // null when out of memory.
    i_xml_node* add(i_xml_node* parent, const char* name);
    static void set(i_xml_node* node, const char* name, const std::string& value);
    static void set(i_xml_node* node, const char* name, unsigned long long value);
    static void set_seconds(i_xml_node* node, const char* name, double seconds);

private:
    i_xml_proc* m_xml;
};

// The parts, in the order they appear.
void add_core_status(status_tree& tree, i_xml_node* status);    // services, libraries, streams
void add_thread_status(status_tree& tree, i_xml_node* status);  // threads by role

}  // namespace vek

#endif
