// A core with its XML processor, and helpers that turn nodes into text.
#ifndef VEK_TESTS_XML_XML_FIXTURE_H
#define VEK_TESTS_XML_XML_FIXTURE_H

#include <cstdlib>
#include <string>

#include "test_support.h"

namespace vek_test {

using node_ptr = auto_ptr_t<vek::i_xml_node>;
using col_ptr = auto_ptr_t<vek::i_object_col>;

class xml_fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        quiet_trace();
        ASSERT_TRUE(vek_initialize());
        vek::i_object* svc = vek_core()->get_service("svc_xml");
        proc = vek_cast_i_xml_proc(svc);
        ASSERT_NE(proc, nullptr);
        // The core keeps the service alive.
        svc->release();
    }
    void TearDown() override { vek_terminate(); }

    vek::i_xml_node* parse(const char* text) { return proc->parse_text(text); }

    vek::i_xml_proc* proc = nullptr;
};

// The node's markup; "<null>" when get_xml fails.
inline std::string xml_of(vek::i_xml_node* node, bool format = false)
{
    char* text = node->get_xml(format);
    std::string s = text != nullptr ? text : "<null>";
    std::free(text);
    return s;
}

// The names (and, for strings, "=value") of the items, comma-separated;
// releases the collection.
inline std::string list_of(vek::i_object_col* col)
{
    if (col == nullptr) return "<null>";
    std::string s;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_object* item = col->get_item_by_pos(i);
        if (!s.empty()) s += ",";
        s += vek_cast_i_named_object(item)->get_name();
        if (vek::i_string* value = vek_cast_i_string(item)) s += std::string("=") + value->get_value();
        item->release();
    }
    col->release();
    return s;
}

}  // namespace vek_test

#endif
