#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "xml/xml_fixture.h"

namespace vek_test {
namespace {

class XmlProcTest : public xml_fixture {};

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_all(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST_F(XmlProcTest, ServiceAnswersItsNamesAndRefusesNullArguments)
{
    EXPECT_STREQ(vek_cast_i_named_object(proc)->get_name(), "xml_proc");
    EXPECT_EQ(vek_cast_xml_proc(proc), nullptr);
    EXPECT_EQ(proc->parse_text(nullptr), nullptr);
    EXPECT_EQ(proc->parse_file(nullptr), nullptr);
    EXPECT_EQ(proc->parse_file(""), nullptr);
    EXPECT_EQ(proc->create_node(nullptr), nullptr);
    EXPECT_EQ(parse(""), nullptr);
    EXPECT_EQ(parse("  <!-- no element -->"), nullptr);
    node_ptr node(proc->create_node("n"));
    EXPECT_FALSE(proc->write_file(nullptr, "/tmp/x.xml", false));
    EXPECT_FALSE(proc->write_file(node, nullptr, false));
    EXPECT_FALSE(proc->write_file(node, "", false));
    EXPECT_FALSE(proc->write_file(node, "/nonexistent-dir/x.xml", false));
    EXPECT_STREQ(node->get_name(), "n");
    EXPECT_EQ(list_of(node->get_attributes()), "");
    EXPECT_EQ(node->get_parent_node(), nullptr);
}

TEST_F(XmlProcTest, ParseBuildsChildrenInOrderTrimsTextAndKeepsAttributeOrder)
{
    node_ptr root(parse(
        "<?xml version='1.0'?>\n<!DOCTYPE r>\n<r>\n  <a z='1' b='&lt;&amp;&#65;&quot;' m=\"q\"> hello  world \t</a>\n"
        "  <b>x<c/>y <!-- gone --> z</b><d>&#13; x &#13;</d><e>\n&#13;x</e><f> \n\t </f><p:q/></r>"));
    ASSERT_NE(root.get(), nullptr);
    EXPECT_STREQ(root->get_name(), "r");
    EXPECT_STREQ(root->get_text(), "");
    EXPECT_EQ(list_of(root->get_child_nodes()), "a,b,d,e,f,p:q");
    col_ptr children(root->get_child_nodes());
    for (unsigned int i = 0; i < children->get_count(); ++i) {
        auto_ptr_t<vek::i_object> child(children->get_item_by_pos(i));
        node_ptr parent(vek_cast_i_xml_node(child)->get_parent_node());
        EXPECT_EQ(parent.get(), root.get());
    }
    node_ptr a(root->select_single_node("a"));
    EXPECT_STREQ(a->get_text(), "hello  world");
    EXPECT_EQ(list_of(a->get_attributes()), "z=1,b=<&A\",m=q");
    node_ptr b(root->select_single_node("b"));
    EXPECT_STREQ(b->get_text(), "xy  z");
    // A carriage return (a literal one reaches the text as a line feed) is
    // not a blank.
    EXPECT_STREQ(node_ptr(root->select_single_node("d"))->get_text(), "\r x \r");
    EXPECT_STREQ(node_ptr(root->select_single_node("e"))->get_text(), "\rx");
    EXPECT_STREQ(node_ptr(root->select_single_node("f"))->get_text(), "");
}

TEST_F(XmlProcTest, BadInputGivesNullOrATreeWithoutCrashing)
{
    // Each failure leaves a partial tree behind; the sanitizer build reports
    // any node it fails to give back when the processor goes.
    for (const char* bad : {"<r><a><b>text", "<r><a></b></r>", "<r>&undefined;</r>", "<r>\xC3\x28</r>",
                            "<r a='1' a='2'/>", "<r/><s/>", "<r><a>\xff</a></r>"}) {
        EXPECT_EQ(parse(bad), nullptr) << bad;
    }
    // Deep enough that taking the tree apart (or writing or copying it) by
    // recursion would overflow the stack.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<n>";
    deep += "leaf";
    for (int i = 0; i < 100000; ++i) deep += "</n>";
    node_ptr root(parse(deep.c_str()));
    ASSERT_NE(root.get(), nullptr);
    EXPECT_EQ(xml_of(root), deep);
    node_ptr copy(root->create_copy(true));
    EXPECT_EQ(xml_of(copy), deep);
    EXPECT_EQ(parse(deep.substr(0, deep.size() - 4).c_str()), nullptr);

    std::string wide = "<r";
    for (int i = 0; i < 20000; ++i) wide += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    wide += "/>";
    node_ptr many(parse(wide.c_str()));
    ASSERT_NE(many.get(), nullptr);
    EXPECT_STREQ(many->get_attribute("a19999"), "19999");
    EXPECT_EQ(xml_of(many), wide);
}

TEST_F(XmlProcTest, ParseFileAcrossChunksMatchesParseText)
{
    std::string base = scratch_path("xml_proc").string();
    std::string doc = "<list>";
    for (int i = 0; doc.size() < (1u << 20); ++i) doc += "<item n=\"" + std::to_string(i) + "\">text &amp; more</item>\n";
    doc += "</list>";
    write_all(base + "_big.xml", doc);
    node_ptr from_text(parse(doc.c_str()));
    node_ptr from_file(proc->parse_file((base + "_big.xml").c_str()));
    ASSERT_NE(from_file.get(), nullptr);
    EXPECT_EQ(xml_of(from_file), xml_of(from_text));

    // Exactly one chunk: the end of the file shows only on the next read.
    std::string exact = "<x>" + std::string(65536 - 7, 'y') + "</x>";
    write_all(base + "_exact.xml", exact);
    node_ptr one(proc->parse_file((base + "_exact.xml").c_str()));
    ASSERT_NE(one.get(), nullptr);
    EXPECT_EQ(std::strlen(one->get_text()), 65536u - 7);

    write_all(base + "_cut.xml", doc.substr(0, 150001));
    EXPECT_EQ(proc->parse_file((base + "_cut.xml").c_str()), nullptr);
    EXPECT_EQ(proc->parse_file((base + "_missing.xml").c_str()), nullptr);
    for (const char* leaf : {"_big.xml", "_exact.xml", "_cut.xml"}) std::remove((base + leaf).c_str());
}

TEST_F(XmlProcTest, WriteFileHoldsExactlyTheMarkupAndRoundTrips)
{
    std::string path = scratch_path("xml_write").string() + ".xml";
    node_ptr root(parse("<?xml version=\"1.0\"?><r a=\"1&amp;2\"><c/><x>t</x></r>"));
    ASSERT_TRUE(proc->write_file(root, path.c_str(), false));
    EXPECT_EQ(read_all(path), "<r a=\"1&amp;2\"><c/><x>t</x></r>");
    ASSERT_TRUE(proc->write_file(root, path.c_str(), true));
    EXPECT_EQ(read_all(path), "<r a=\"1&amp;2\">\n\t<c/>\n\t<x>\n\t\tt\n\t</x>\n</r>\n");
    node_ptr again(proc->parse_file(path.c_str()));
    ASSERT_NE(again.get(), nullptr);
    EXPECT_EQ(xml_of(again), xml_of(root));
    std::remove(path.c_str());

    const char* doc = "<a q=\"&quot;'&lt;&gt;\">one<b>two &amp; &lt;three&gt;</b>four<c x=\"\"/></a>";
    node_ptr first(parse(doc));
    std::string once = xml_of(first, true);
    node_ptr second(parse(once.c_str()));
    ASSERT_NE(second.get(), nullptr);
    EXPECT_EQ(xml_of(second, true), once);
    EXPECT_EQ(xml_of(second), "<a q=\"&quot;'&lt;&gt;\"><b>two &amp; &lt;three&gt;</b><c x=\"\"/>onefour</a>");
}

TEST_F(XmlProcTest, ThreadsParseDifferentDocumentsConcurrently)
{
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t, &wrong] {
            std::string doc = "<t" + std::to_string(t) + ">";
            for (int i = 0; i < 50; ++i) doc += "<i k=\"" + std::to_string(i) + "\">" + std::to_string(t) + "</i>";
            doc += "</t" + std::to_string(t) + ">";
            for (int round = 0; round < 200; ++round) {
                vek::i_xml_node* root = proc->parse_text(doc.c_str());
                if (root == nullptr || xml_of(root) != doc) ++wrong;
                vek_release(root);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace vek_test
