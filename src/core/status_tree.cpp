#include "core/status_tree.h"

#include <cstdio>

namespace vek {

i_xml_node* status_tree::add(i_xml_node* parent, const char* name)
{
    if (parent == nullptr) return nullptr;
    i_xml_node* node = m_xml->create_node(name);
    if (node != nullptr && !parent->add_child(node)) {
        node->release();
        return nullptr;
    }
    return node;
}

void status_tree::set(i_xml_node* node, const char* name, const std::string& value)
{
    if (node != nullptr) node->set_attribute(name, value.c_str());
}

void status_tree::set(i_xml_node* node, const char* name, unsigned long long value)
{
    set(node, name, std::to_string(value));
}

void status_tree::set_seconds(i_xml_node* node, const char* name, double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    set(node, name, std::string(text));
}

}  // namespace vek
