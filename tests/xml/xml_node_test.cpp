#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "xml/xml_fixture.h"

namespace vek_test {
namespace {

class XmlNodeTest : public xml_fixture {};

TEST_F(XmlNodeTest, GetXmlWritesTheExactMarkupAndCopiesAreDeepAndIndependent)
{
    node_ptr root(proc->create_node("r"));
    node_ptr c(proc->create_node("c"));
    ASSERT_TRUE(root->set_attribute("a", "1&2"));
    ASSERT_TRUE(root->add_child(c));
    EXPECT_EQ(xml_of(root), "<r a=\"1&amp;2\"><c/></r>");
    EXPECT_EQ(xml_of(root, true), "<r a=\"1&amp;2\">\n\t<c/>\n</r>\n");
    c->set_text("a\"b<c>d&e'f");
    c->set_attribute("q", "'\"");
    EXPECT_EQ(xml_of(c), "<c q=\"'&quot;\">a&quot;b&lt;c&gt;d&amp;e'f</c>");
    // The text of an element comes after its children.
    root->set_text("t");
    EXPECT_EQ(xml_of(root, true),
              "<r a=\"1&amp;2\">\n\t<c q=\"'&quot;\">\n\t\ta&quot;b&lt;c&gt;d&amp;e'f\n\t</c>\n\tt\n</r>\n");

    EXPECT_EQ(xml_of(node_ptr(root->create_copy(true)), true), xml_of(root, true));
    EXPECT_EQ(xml_of(node_ptr(root->create_copy(false))), "<r a=\"1&amp;2\">t</r>");
    node_ptr c_copy(c->create_copy(true));
    EXPECT_EQ(c_copy->get_parent_node(), nullptr);
    c_copy->set_attribute("q", "changed");
    EXPECT_STREQ(c->get_attribute("q"), "'\"");
}

TEST_F(XmlNodeTest, SelectFollowsRelativePathsWithAttributeTests)
{
    node_ptr root(parse("<r><x/><y k=\"v\"><z/></y></r>"));
    const std::pair<const char*, const char*> cases[] = {
        {"y/z", "z"},    {"./y/z", "z"}, {"/y/z", "z"}, {"y//z", "z"},  {"./././y/z", "z"},
        {"y[k=v]", "y"}, {"y[k=w]", ""}, {"y[k]", "y"}, {"y[k=]", "y"}, {"y[k=v]/z", "z"},
        {"Y", ""},       {".", ""},      {"", ""},      {"..", ""},     {"y/z/..", ""}};
    for (const auto& [path, names] : cases) EXPECT_EQ(list_of(root->select_nodes(path)), names) << path;
    EXPECT_EQ(root->select_nodes(nullptr), nullptr);
    EXPECT_EQ(root->select_single_node(nullptr), nullptr);
    EXPECT_EQ(root->select_single_node("w"), nullptr);
    node_ptr z(root->select_single_node("y/z"));
    EXPECT_EQ(list_of(z->select_nodes("../x")), "");
    EXPECT_EQ(list_of(z->select_nodes("../../x")), "x");

    // Document order, each node once however often the path reaches it.
    node_ptr twice(parse("<r><a><b i=\"1\"/></a><a><b i=\"2\"/><b i=\"3\"/></a></r>"));
    EXPECT_EQ(list_of(twice->select_nodes("a/b"), "i"), "1,2,3");
    EXPECT_STREQ(node_ptr(twice->select_single_node("a/b"))->get_attribute("i"), "1");
    EXPECT_STREQ(node_ptr(twice->select_single_node("a/b[i=3]"))->get_attribute("i"), "3");
    EXPECT_EQ(list_of(twice->select_nodes("a/../a")), "a,a");
    std::string doubling = "a";
    for (int i = 0; i < 60; ++i) doubling += "/../a";
    EXPECT_EQ(list_of(twice->select_nodes((doubling + "/b").c_str()), "i"), "1,2,3");
    EXPECT_STREQ(node_ptr(twice->select_single_node((doubling + "/b[i=2]").c_str()))->get_attribute("i"), "2");
}

TEST_F(XmlNodeTest, AttributesAndTextAreEditedInPlace)
{
    node_ptr node(parse("<n a=\"1\" b=\"2\" c=\"3\">x</n>"));
    EXPECT_STREQ(node->get_attribute("missing"), "");
    EXPECT_STREQ(node->get_attribute(nullptr), "");
    EXPECT_FALSE(node->delete_attribute("missing"));
    // Values and texts read before an edit stay readable after it.
    const char* a = node->get_attribute("a");
    const char* text = node->get_text();
    EXPECT_TRUE(node->set_attribute("b", "9"));
    EXPECT_TRUE(node->set_name("renamed"));
    EXPECT_STREQ(a, "1");
    EXPECT_STREQ(text, "x");
    EXPECT_TRUE(node->set_attribute("d", "4"));
    EXPECT_FALSE(node->set_attribute(nullptr, "x"));
    EXPECT_FALSE(node->set_attribute("x", nullptr));
    // A returned list shares the attributes but not the node's list.
    col_ptr before(node->get_attributes());
    // Each attribute is held by the node, the returned list and here; reads
    // add nothing.
    for (unsigned int i = 0; i < before->get_count(); ++i) {
        auto_ptr_t<vek::i_object> item(before->get_item_by_pos(i));
        node->get_attribute(vek_cast_i_named_object(item)->get_name());
        EXPECT_EQ(count_of(item), 3) << i;
    }
    EXPECT_TRUE(node->delete_attribute("b"));
    EXPECT_FALSE(node->delete_attribute("b"));
    EXPECT_FALSE(node->delete_attribute(nullptr));
    EXPECT_EQ(list_of(node->get_attributes()), "a=1,c=3,d=4");
    EXPECT_EQ(list_of(before.detach()), "a=1,b=9,c=3,d=4");
    EXPECT_FALSE(node->set_text(nullptr));
    EXPECT_STREQ(node->get_text(), "x");
    EXPECT_TRUE(node->set_text(""));
    EXPECT_STREQ(node->get_text(), "");
    EXPECT_EQ(xml_of(node), "<renamed a=\"1\" c=\"3\" d=\"4\"/>");
}

TEST_F(XmlNodeTest, ThreadsSetAttributesOfOneParsedNodeConcurrently)
{
    for (int round = 0; round < 20; ++round) {
        node_ptr node(parse("<n a=\"1\"><c/></n>"));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&node, t] {
                const std::string own = "t" + std::to_string(t);
                node->set_attribute(own.c_str(), "v");
                node->set_attribute("shared", own.c_str());
                node->delete_attribute("a");
            });
        }
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(col_ptr(node->get_attributes())->get_count(), 5u);
        EXPECT_STREQ(node->get_attribute("a"), "");
    }
}

TEST_F(XmlNodeTest, InsertChildMovesNodesBetweenAndWithinParents)
{
    node_ptr p1(parse("<p1><a/><b/><c/></p1>"));
    node_ptr p2(parse("<p2><d/></p2>"));
    node_ptr b(p1->select_single_node("b"));
    ASSERT_TRUE(p2->insert_child(b, 0));
    EXPECT_EQ(children_of(p1), "a,c");
    EXPECT_EQ(children_of(p2), "b,d");
    EXPECT_EQ(parent_of(b), p2.get());

    node_ptr d(p2->select_single_node("d"));
    ASSERT_TRUE(p1->insert_child(d, -1));
    ASSERT_TRUE(p1->insert_child(b, 7));
    EXPECT_EQ(children_of(p1), "a,c,d,b");
    node_ptr a(p1->select_single_node("a"));
    ASSERT_TRUE(p1->insert_child(a, 3));  // towards the end: one place before 3
    EXPECT_EQ(children_of(p1), "c,d,a,b");
    ASSERT_TRUE(p1->insert_child(b, 0));  // towards the front: unchanged
    EXPECT_EQ(children_of(p1), "c,d,a,b");
    EXPECT_EQ(parent_of(a), p1.get());

    node_ptr n(proc->create_node("n"));
    node_ptr m(proc->create_node("m"));
    ASSERT_TRUE(p1->add_child(n, d));
    ASSERT_TRUE(p1->add_child(m, p2));  // not a child: appended
    EXPECT_EQ(children_of(p1), "c,n,d,a,b,m");
    EXPECT_FALSE(p1->insert_child(p1, 0));
    EXPECT_FALSE(p1->insert_child(nullptr, 0));
    EXPECT_FALSE(p1->remove_child(nullptr));
    EXPECT_TRUE(p2->remove_child(n));
    EXPECT_TRUE(p1->remove_child(n));
    EXPECT_EQ(children_of(p1), "c,d,a,b,m");
    EXPECT_EQ(n->get_parent_node(), nullptr);
}

TEST_F(XmlNodeTest, NodesOutliveTheirRootAndTheProcessor)
{
    vek::i_xml_node* root = parse("<r><y><z>keep<c/></z></y><x/></r>");
    node_ptr z(root->select_single_node("y/z"));
    node_ptr y(z->get_parent_node());
    node_ptr copy(root->create_copy(true));
    // Filling the pool's open block lets the last user's release take a node apart.
    for (int i = 0; i < 100; ++i) vek_release(proc->create_node("filler"));
    root->release();
    EXPECT_EQ(parent_of(y), nullptr);
    EXPECT_EQ(parent_of(z), y.get());
    y = nullptr;
    EXPECT_EQ(parent_of(z), nullptr);
    vek_terminate();
    // No library running and no processor: edits and copies are refused.
    EXPECT_FALSE(z->set_attribute("a", "1"));
    EXPECT_EQ(z->create_copy(true), nullptr);
    EXPECT_EQ(xml_of(z), "<z><c/>keep</z>");
    EXPECT_EQ(xml_of(copy), "<r><y><z><c/>keep</z></y><x/></r>");
}

}  // namespace
}  // namespace vek_test
