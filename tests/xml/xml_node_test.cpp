#include <string>

#include "xml/xml_fixture.h"

namespace vek_test {
namespace {

class XmlNodeTest : public xml_fixture {};

// The names of the children of `node`.
std::string children_of(vek::i_xml_node* node)
{
    return list_of(node->get_child_nodes());
}

vek::i_xml_node* child(vek::i_xml_node* node, const char* path)
{
    return node->select_single_node(path);
}

TEST_F(XmlNodeTest, NodeAnswersItsNames)
{
    node_ptr node(proc->create_node("n"));
    EXPECT_NE(vek_cast_xml_node(node), nullptr);
    EXPECT_EQ(vek_cast_i_xml_node(node), node.get());
    EXPECT_NE(vek_cast_i_named_object(node), nullptr);
    EXPECT_EQ(vek_cast_i_object(node), nullptr);
    auto_ptr_t<vek::i_string> text(vek_create_string("x"));
    EXPECT_EQ(vek_cast_xml_node(text), nullptr);
}

TEST_F(XmlNodeTest, GetXmlWritesTheExactMarkup)
{
    node_ptr root(proc->create_node("r"));
    node_ptr c(proc->create_node("c"));
    ASSERT_TRUE(root->set_attribute("a", "1&2"));
    ASSERT_TRUE(root->add_child(c));
    EXPECT_EQ(xml_of(root), "<r a=\"1&amp;2\"><c/></r>");
    EXPECT_EQ(xml_of(root, true), "<r a=\"1&amp;2\">\n\t<c/>\n</r>\n");

    node_ptr leaf(proc->parse_text("<r><x>x</x></r>"));
    EXPECT_EQ(xml_of(leaf, true), "<r>\n\t<x>\n\t\tx\n\t</x>\n</r>\n");
    c->set_text("a\"b<c>d&e'f");
    c->set_attribute("q", "'\"");
    EXPECT_EQ(xml_of(c), "<c q=\"'&quot;\">a&quot;b&lt;c&gt;d&amp;e'f</c>");
    // The text of an element comes after its children.
    root->set_text("t");
    EXPECT_EQ(xml_of(root, true),
              "<r a=\"1&amp;2\">\n\t<c q=\"'&quot;\">\n\t\ta&quot;b&lt;c&gt;d&amp;e'f\n\t</c>\n\tt\n</r>\n");
}

TEST_F(XmlNodeTest, SelectFollowsRelativePathsWithAttributeTests)
{
    node_ptr root(parse("<r><x/><y k=\"v\"><z/></y></r>"));
    for (const char* path : {"y/z", "./y/z", "/y/z", "y//z", "./././y/z"}) {
        EXPECT_EQ(list_of(root->select_nodes(path)), "z") << path;
    }
    EXPECT_EQ(list_of(root->select_nodes("y[k=v]")), "y");
    EXPECT_EQ(list_of(root->select_nodes("y[k=w]")), "");
    EXPECT_EQ(list_of(root->select_nodes("y[k]")), "y");
    EXPECT_EQ(list_of(root->select_nodes("y[k=]")), "y");
    EXPECT_EQ(list_of(root->select_nodes("y[k=v]/z")), "z");
    EXPECT_EQ(list_of(root->select_nodes("Y")), "");
    for (const char* empty : {".", "", "..", "y/z/.."}) {
        EXPECT_EQ(list_of(root->select_nodes(empty)), "") << empty;
    }
    EXPECT_EQ(root->select_nodes(nullptr), nullptr);
    EXPECT_EQ(root->select_single_node(nullptr), nullptr);
    EXPECT_EQ(root->select_single_node("w"), nullptr);

    node_ptr z(child(root, "y/z"));
    EXPECT_EQ(list_of(z->select_nodes("../x")), "");
    EXPECT_EQ(list_of(z->select_nodes("../../x")), "x");

    node_ptr twice(parse("<r><a><b i=\"1\"/></a><a><b i=\"2\"/><b i=\"3\"/></a></r>"));
    col_ptr all(twice->select_nodes("a/b"));
    ASSERT_EQ(all->get_count(), 3u);
    std::string order;
    for (unsigned int i = 0; i < 3; ++i) {
        auto_ptr_t<vek::i_object> b(all->get_item_by_pos(i));
        order += vek_cast_i_xml_node(b)->get_attribute("i");
    }
    EXPECT_EQ(order, "123");
    node_ptr first(child(twice, "a/b"));
    EXPECT_STREQ(first->get_attribute("i"), "1");
    node_ptr third(child(twice, "a/b[i=3]"));
    EXPECT_STREQ(third->get_attribute("i"), "3");
    // A node reached twice is listed twice.
    EXPECT_EQ(list_of(twice->select_nodes("a/../a")), "a,a,a,a");
}

TEST_F(XmlNodeTest, AttributesAreEditedInPlace)
{
    node_ptr node(parse("<n a=\"1\" b=\"2\" c=\"3\"/>"));
    EXPECT_STREQ(node->get_attribute("missing"), "");
    EXPECT_STREQ(node->get_attribute(nullptr), "");
    EXPECT_TRUE(node->set_attribute("b", "9"));
    EXPECT_TRUE(node->set_attribute("d", "4"));
    EXPECT_FALSE(node->set_attribute(nullptr, "x"));
    EXPECT_FALSE(node->set_attribute("x", nullptr));
    EXPECT_EQ(list_of(node->get_attributes()), "a=1,b=9,c=3,d=4");

    // A returned list shares the attributes but not the node's list.
    col_ptr before(node->get_attributes());
    EXPECT_TRUE(node->delete_attribute("b"));
    EXPECT_FALSE(node->delete_attribute("b"));
    EXPECT_FALSE(node->delete_attribute(nullptr));
    EXPECT_EQ(list_of(node->get_attributes()), "a=1,c=3,d=4");
    EXPECT_EQ(list_of(before.detach()), "a=1,b=9,c=3,d=4");
    EXPECT_FALSE(node->set_text(nullptr));
    EXPECT_TRUE(node->set_text(""));
    EXPECT_STREQ(node->get_text(), "");
}

TEST_F(XmlNodeTest, InsertChildMovesNodesBetweenAndWithinParents)
{
    node_ptr p1(parse("<p1><a/><b/><c/></p1>"));
    node_ptr p2(parse("<p2><d/></p2>"));
    node_ptr b(child(p1, "b"));
    ASSERT_TRUE(p2->insert_child(b, 0));
    EXPECT_EQ(children_of(p1), "a,c");
    EXPECT_EQ(children_of(p2), "b,d");
    EXPECT_EQ(node_ptr(b->get_parent_node()).get(), p2.get());

    node_ptr d(child(p2, "d"));
    ASSERT_TRUE(p1->insert_child(d, -1));
    ASSERT_TRUE(p1->insert_child(b, 7));
    EXPECT_EQ(children_of(p1), "a,c,d,b");
    node_ptr a(child(p1, "a"));
    ASSERT_TRUE(p1->insert_child(a, 3));  // towards the end: one place before 3
    EXPECT_EQ(children_of(p1), "c,d,a,b");
    ASSERT_TRUE(p1->insert_child(b, 0));  // towards the front: unchanged
    EXPECT_EQ(children_of(p1), "c,d,a,b");
    EXPECT_EQ(node_ptr(a->get_parent_node()).get(), p1.get());

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

TEST_F(XmlNodeTest, ReleasingTheRootDetachesTheTree)
{
    vek::i_xml_node* root = parse("<r><y><z>keep</z></y><x/></r>");
    node_ptr z(child(root, "y/z"));
    node_ptr y(z->get_parent_node());
    // The pool holds every node of its open block; filling the block lets
    // the last user's release take a node apart.
    for (int i = 0; i < 100; ++i) vek_release(proc->create_node("filler"));
    root->release();
    // y is alive through our reference but no longer linked to the root.
    EXPECT_EQ(node_ptr(y->get_parent_node()).get(), nullptr);
    EXPECT_EQ(node_ptr(z->get_parent_node()).get(), y.get());
    y = nullptr;
    EXPECT_EQ(node_ptr(z->get_parent_node()).get(), nullptr);
    EXPECT_EQ(xml_of(z), "<z>keep</z>");
}

TEST_F(XmlNodeTest, CreateCopyIsDeepAndIndependent)
{
    node_ptr root(parse("<r a=\"1\" b=\"&amp;\">text<c k=\"v\"><d>t</d></c><e/></r>"));
    node_ptr deep(root->create_copy(true));
    EXPECT_EQ(xml_of(deep, true), xml_of(root, true));
    EXPECT_EQ(deep->get_parent_node(), nullptr);
    node_ptr c(child(root, "c"));
    node_ptr c_copy(c->create_copy(true));
    EXPECT_EQ(c_copy->get_parent_node(), nullptr);
    c_copy->set_attribute("k", "changed");
    EXPECT_STREQ(c->get_attribute("k"), "v");
    node_ptr shallow(root->create_copy(false));
    EXPECT_EQ(xml_of(shallow), "<r a=\"1\" b=\"&amp;\">text</r>");
}

TEST_F(XmlNodeTest, NodesOutliveTheProcessor)
{
    node_ptr root(parse("<r><c/></r>"));
    vek_terminate();
    // No library running and no processor: edits and copies are refused.
    EXPECT_FALSE(root->set_attribute("a", "1"));
    EXPECT_EQ(root->create_copy(true), nullptr);
    EXPECT_EQ(xml_of(root), "<r><c/></r>");
}

}  // namespace
}  // namespace vek_test
