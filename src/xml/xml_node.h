// One element of an XML tree, allocated from the processor's node pool.
//
// A node owns its child list, attribute list and text as members. Each child
// in the list holds one reference; the child's link back to its parent holds
// none, so the link is cleared whenever the parent lets the child go (on
// remove_child, or when the parent's own count reaches 0 and it detaches
// all of its children). Releasing the last reference to a root therefore
// releases the whole tree; deep trees are taken apart with a worklist, not
// by recursion.
//
// Thread safety: one thread at a time per tree. Reference counting is safe
// for concurrent use (the pool gives every block a lock), and the attribute
// list's lock serialises set_attribute and delete_attribute.
#ifndef VEK_XML_XML_NODE_H
#define VEK_XML_XML_NODE_H

#include "vek/object.h"
#include "vek/xml.h"

namespace vek {

// A node's child or attribute list: it can be read by position without
// counting a reference, and filled without its lock by a parse, which is
// the only thread that can reach a tree it is still building.
class node_list : public object_col {
public:
    // No reference added; valid while the item stays in the list. Null when
    // pos >= count.
    i_object* peek(unsigned int pos);
    // Adds a reference to `item` and appends it. False (nothing kept) when
    // memory runs out.
    // REQUIRES: the list's lock held, or the list reachable by this thread
    // only.
    bool append_unlocked(i_object* item);
    // Appends `item` with the caller's reference, which becomes the list's.
    // False (the reference given back) when memory runs out.
    // REQUIRES: as append_unlocked.
    bool adopt_unlocked(i_object* item);
    // REQUIRES: as append_unlocked.
    void reserve_unlocked(unsigned int size);
};

class xml_node : public array_object<xml_node>, public i_named_object_impl, public virtual i_xml_node {
public:
    xml_node();
    ~xml_node() override;

    const char* get_text() override;
    bool set_text(const char* text) override;
    i_object_col* get_attributes() override;
    const char* get_attribute(const char* name) override;
    bool set_attribute(const char* name, const char* value) override;
    bool delete_attribute(const char* name) override;
    i_object_col* get_child_nodes() override;
    bool add_child(i_xml_node* node, i_xml_node* prev_child = nullptr) override;
    bool insert_child(i_xml_node* node, int pos) override;
    bool remove_child(i_xml_node* node) override;
    i_xml_node* get_parent_node() override;
    char* get_xml(bool format) override;
    i_object_col* select_nodes(const char* xpath) override;
    i_xml_node* select_single_node(const char* xpath) override;
    i_xml_node* create_copy(bool recursive) override;

    // Answers "i_xml_node", "i_named_object" and "xml_node" (the node
    // itself).
    bool get_interface(const char* iface_name, void** pp_obj) override;
    // Detaches the children when the node's own count reaches 0.
    void personal_destruct() override;

    // No reference added. The node behind `obj`, or null when `obj` is not
    // a node of this library.
    static xml_node* from(i_object* obj);

    // No reference added; valid while the child stays in the list. Null
    // when pos >= the number of children.
    xml_node* child_at(unsigned int pos);
    // No reference added. Null for a root.
    xml_node* parent() { return m_parent; }

    // Building blocks of the parser. They take no list lock: a tree under
    // construction is reachable only by the parsing thread.
    void set_parent(xml_node* parent) { m_parent = parent; }
    // Appends `child` with the caller's reference, which becomes the
    // list's. False (the reference given back) when memory runs out.
    bool adopt_child(xml_node* child);
    // False when memory runs out.
    // REQUIRES: the attribute list's lock held, or a tree under construction.
    bool append_attribute(const char* name, const char* value);
    void reserve_attributes(unsigned int count) { m_attributes.reserve_unlocked(count); }
    // Replaces the text with `length` bytes of `text`. False when memory
    // runs out.
    bool set_text_n(const char* text, size_t length);

    // Calls fn(name, value) for each attribute in order, under the
    // attribute list's lock.
    template <class Fn>
    void for_each_attribute(Fn fn);

private:
    void detach_children();
    // New reference: caller releases. The name, text and attributes
    // without the children; null when no node can be had.
    xml_node* copy_shallow();

    xml_node* m_parent;
    node_list m_children;
    node_list m_attributes;
    string m_text;
};

// The path walk behind select_nodes and select_single_node: appends the
// nodes that `xpath` reaches from `start` to `out`, in document order, each
// once. In single mode the walk stops at its first complete match.
void xml_select(xml_node* start, const char* xpath, object_col* out, bool single);

template <class Fn>
void xml_node::for_each_attribute(Fn fn)
{
    mutex_locker hold(&m_attributes);
    unsigned int count = m_attributes.get_count();
    for (unsigned int i = 0; i < count; ++i) {
        i_object* item = m_attributes.get_item_by_pos(i);
        if (item == nullptr) break;
        void* p = nullptr;
        if (item->get_interface("i_named_string", &p) && p != nullptr) {
            i_named_string* attr = static_cast<i_named_string*>(p);
            fn(attr->get_name(), attr->get_value());
        }
        // The list still holds the attribute.
        item->release();
    }
}

}  // namespace vek

#endif
