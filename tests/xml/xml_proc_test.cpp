#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "xml/xml_fixture.h"

namespace vek_test {
namespace {

class XmlProcTest : public xml_fixture {};

TEST_F(XmlProcTest, ObjectsAnswerTheirNamesAndNullArgumentsAreRefused)
{
    EXPECT_STREQ(vek_cast_i_named_object(proc)->get_name(), "xml_proc");
    EXPECT_EQ(vek_cast_xml_proc(proc), nullptr);
    node_ptr node(proc->create_node("n"));
    EXPECT_NE(vek_cast_xml_node(node), nullptr);
    EXPECT_EQ(vek_cast_i_object(node), nullptr);
    EXPECT_EQ(vek_cast_xml_node(auto_ptr_t<vek::i_string>(vek_create_string("x"))), nullptr);

    EXPECT_EQ(proc->create_node(nullptr), nullptr);
    EXPECT_EQ(proc->parse_text(nullptr), nullptr);
    EXPECT_EQ(parse(""), nullptr);
    EXPECT_EQ(parse("  <!-- no element -->"), nullptr);
    EXPECT_EQ(proc->parse_file(nullptr), nullptr);
    EXPECT_EQ(proc->parse_file(""), nullptr);
    EXPECT_FALSE(proc->write_file(nullptr, "/tmp/x.xml", false));
    EXPECT_FALSE(proc->write_file(node, nullptr, false));
    EXPECT_FALSE(proc->write_file(node, "", false));
    EXPECT_FALSE(proc->write_file(node, "/nonexistent-dir/x.xml", false));
}

TEST_F(XmlProcTest, ParseBuildsChildrenInOrderTrimsTextAndKeepsAttributeOrder)
{
    node_ptr root(parse(
        "<?xml version='1.0'?>\n<!DOCTYPE r>\n<r>\n  <a z='1' b='&lt;&amp;&#65;&quot;' m=\"q\"> hello  world \t</a>\n"
        "  <b>x<c/>y <!-- gone --> z</b><d>&#13; x &#13;</d><e>\n&#13;x</e><f> \n\t </f><p:q/></r>"));
    ASSERT_NE(root.get(), nullptr);
    EXPECT_STREQ(root->get_text(), "");
    EXPECT_EQ(children_of(root), "a,b,d,e,f,p:q");
    EXPECT_EQ(list_of(node_ptr(root->select_single_node("a"))->get_attributes()), "z=1,b=<&A\",m=q");
    // A carriage return (a literal one reaches the text as a line feed) is not a blank.
    const std::pair<const char*, const char*> texts[] = {{"a", "hello  world"}, {"b", "xy  z"}, {"d", "\r x \r"},
                                                         {"e", "\rx"},          {"f", ""},      {"p:q", ""}};
    for (const auto& [path, text] : texts) {
        node_ptr child(root->select_single_node(path));
        EXPECT_EQ(parent_of(child), root.get()) << path;
        EXPECT_STREQ(child->get_text(), text) << path;
    }

    // Formatted markup parses back to the same tree.
    node_ptr first(parse("<a q=\"&quot;'&lt;&gt;\">one<b>two &amp; &lt;three&gt;</b>four<c x=\"\"/></a>"));
    const std::string once = xml_of(first, true);
    node_ptr second(parse(once.c_str()));
    EXPECT_EQ(xml_of(second, true), once);
    EXPECT_EQ(xml_of(second), "<a q=\"&quot;'&lt;&gt;\"><b>two &amp; &lt;three&gt;</b><c x=\"\"/>onefour</a>");
}

TEST_F(XmlProcTest, BadInputGivesNullOrATreeWithoutCrashing)
{
    // Each failure leaves a partial tree behind for the processor to give back.
    for (const char* bad : {"<r><a><b>text", "<r><a></b></r>", "<r>&undefined;</r>", "<r>\xC3\x28</r>",
                            "<r a='1' a='2'/>", "<r/><s/>", "<r><a>\xff</a></r>"})
        EXPECT_EQ(parse(bad), nullptr) << bad;
    // Too deep to take apart, write or copy by recursion.
    std::string open, close;
    for (int i = 0; i < 100000; ++i) open += "<n>", close += "</n>";
    const std::string deep = open + "leaf" + close;
    node_ptr root(parse(deep.c_str()));
    ASSERT_NE(root.get(), nullptr);
    EXPECT_EQ(xml_of(root), deep);
    EXPECT_EQ(xml_of(node_ptr(root->create_copy(true))), deep);
    EXPECT_EQ(parse(deep.substr(0, deep.size() - 4).c_str()), nullptr);

    std::string wide = "<r";
    for (int i = 0; i < 20000; ++i) wide += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    wide += "/>";
    node_ptr many(parse(wide.c_str()));
    ASSERT_NE(many.get(), nullptr);
    EXPECT_STREQ(many->get_attribute("a19999"), "19999");
    EXPECT_EQ(xml_of(many), wide);
}

TEST_F(XmlProcTest, FilesParseAcrossChunksAndHoldExactlyTheMarkup)
{
    std::string doc = "<list>";
    for (int i = 0; doc.size() < (1u << 20); ++i) doc += "<i n=\"" + std::to_string(i) + "\">a &amp; b</i>\n";
    doc += "</list>";
    node_ptr from_file(proc->parse_file(file_with("big.xml", doc).c_str()));
    EXPECT_EQ(xml_of(from_file), xml_of(node_ptr(parse(doc.c_str()))));
    // Exactly one chunk: the end of the file shows only on the next read.
    const std::string exact = "<x>" + std::string(65536 - 7, 'y') + "</x>";
    EXPECT_EQ(xml_of(node_ptr(proc->parse_file(file_with("exact.xml", exact).c_str()))), exact);
    EXPECT_EQ(proc->parse_file(file_with("cut.xml", doc.substr(0, 150001)).c_str()), nullptr);
    EXPECT_EQ(proc->parse_file((scratch_path("xml").string() + "_missing.xml").c_str()), nullptr);

    const std::string path = file_with("write.xml");
    node_ptr root(parse("<?xml version=\"1.0\"?><r a=\"1&amp;2\"><c/><x>t</x></r>"));
    ASSERT_TRUE(proc->write_file(root, path.c_str(), true));
    EXPECT_EQ(read_text(path), "<r a=\"1&amp;2\">\n\t<c/>\n\t<x>\n\t\tt\n\t</x>\n</r>\n");
    ASSERT_TRUE(proc->write_file(root, path.c_str(), false));  // replaces the longer file
    EXPECT_EQ(read_text(path), "<r a=\"1&amp;2\"><c/><x>t</x></r>");
}

TEST_F(XmlProcTest, ThreadsParseDifferentDocumentsConcurrently)
{
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t, &wrong] {
            std::string doc = "<t" + std::to_string(t) + ">";
            for (int i = 0; i < 50; ++i) doc += "<i k=\"" + std::to_string(i) + "\">" + std::to_string(t) + "</i>";
            doc += "</t" + std::to_string(t) + ">";
            for (int round = 0; round < 200; ++round)
                if (xml_of(node_ptr(proc->parse_text(doc.c_str()))) != doc) ++wrong;
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace vek_test
