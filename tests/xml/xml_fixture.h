// A core with its XML processor, scratch files, and helpers that turn nodes into text.
#ifndef VEK_TESTS_XML_XML_FIXTURE_H
#define VEK_TESTS_XML_XML_FIXTURE_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace vek_test {

using node_ptr = auto_ptr_t<vek::i_xml_node>;
using col_ptr = auto_ptr_t<vek::i_object_col>;

// The node's markup; "<null>" when there is no node or get_xml fails.
inline std::string xml_of(vek::i_xml_node* node, bool format = false)
{
    char* text = node != nullptr ? node->get_xml(format) : nullptr;
    std::string s = text != nullptr ? text : "<null>";
    std::free(text);
    return s;
}

// The names (for strings "name=value"; with `attr`, that attribute of each
// node instead) of the items, comma-separated; releases the collection.
inline std::string list_of(vek::i_object_col* col, const char* attr = nullptr)
{
    if (col == nullptr) return "<null>";
    std::string s;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_object* item = col->get_item_by_pos(i);
        if (!s.empty()) s += ",";
        vek::i_xml_node* node = attr != nullptr ? vek_cast_i_xml_node(item) : nullptr;
        s += node != nullptr ? node->get_attribute(attr) : vek_cast_i_named_object(item)->get_name();
        if (vek::i_string* value = vek_cast_i_string(item)) s += std::string("=") + value->get_value();
        item->release();
    }
    col->release();
    return s;
}

// Every name, attribute and text of the tree, each with its length, so no
// two different trees give the same dump.
inline std::string dump(vek::i_xml_node* node)
{
    if (node == nullptr) return "<null>";
    auto field = [](const char* s) { return std::to_string(std::strlen(s)) + ":" + s; };
    std::string s = "(" + field(node->get_name()) + field(node->get_text());
    col_ptr attrs(node->get_attributes());
    for (unsigned int i = 0; i < attrs->get_count(); ++i) {
        auto_ptr_t<vek::i_object> item(attrs->get_item_by_pos(i));
        s += "@" + field(vek_cast_i_named_object(item)->get_name()) + field(vek_cast_i_string(item)->get_value());
    }
    col_ptr children(node->get_child_nodes());
    for (unsigned int i = 0; i < children->get_count(); ++i) {
        auto_ptr_t<vek::i_object> child(children->get_item_by_pos(i));
        s += dump(vek_cast_i_xml_node(child));
    }
    return s + ")";
}

class xml_fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        quiet_trace();
        ASSERT_TRUE(vek_initialize());
        vek::i_object* svc = vek_core()->get_service("svc_xml");
        proc = vek_cast_i_xml_proc(svc);
        ASSERT_NE(proc, nullptr);
        svc->release();  // the core keeps the service alive
    }
    void TearDown() override
    {
        for (const std::string& path : files) std::remove(path.c_str());
        vek_terminate();
    }

    vek::i_xml_node* parse(const char* text) { return proc->parse_text(text); }

    // A scratch file holding `text`, removed at teardown.
    std::string file_with(const char* leaf, const std::string& text = "")
    {
        files.push_back(scratch_path("xml").string() + "_" + leaf);
        std::ofstream(files.back(), std::ios::binary) << text;
        return files.back();
    }
    static std::string children_of(vek::i_xml_node* node) { return list_of(node->get_child_nodes()); }
    // The parent of `node`, for comparison only.
    static vek::i_xml_node* parent_of(vek::i_xml_node* node) { return node_ptr(node->get_parent_node()).get(); }

    vek::i_xml_proc* proc = nullptr;
    std::vector<std::string> files;
};

}  // namespace vek_test

#endif
