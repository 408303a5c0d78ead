// One element of an XML tree, allocated from the processor's node pool.
//
// Children form a list linked through the nodes themselves. Each child in
// the list holds one reference; the child's link back to its parent holds
// none, so the link is cleared whenever the parent lets the child go (on
// remove_child, or when the parent's own count reaches 0 and it detaches
// all of its children). Releasing the last reference to a root therefore
// releases the whole tree; deep trees are taken apart with a worklist, not
// by recursion.
//
// A parsed node keeps its name, text and attributes packed in one record
// in a text chunk of its parse (see text_arena.h):
//     name \0 text \0 { attribute-name \0 value \0 } \0
// The record never changes. Edits go to a side part made on the first
// edit: a new name or text on the heap, and the attributes as named_string
// objects in a list (made also when the attributes are asked for as
// objects). Pointers into the record stay valid until the node is
// destroyed with its pool block.
//
// Thread safety: one thread at a time per tree. Reference counting is safe
// for concurrent use (the pool gives every block a lock), and the attribute
// list's lock serialises set_attribute and delete_attribute.
#ifndef VEK_XML_XML_NODE_H
#define VEK_XML_XML_NODE_H

#include <atomic>
#include <cstring>

#include "vek/object.h"
#include "vek/xml.h"
#include "xml/text_arena.h"

namespace vek {

// A list of objects filled by its only user without taking its lock.
class node_list : public object_col {
public:
    // Adds a reference to `item` and appends it. False (nothing kept) when
    // memory runs out.
    // REQUIRES: the list's lock held, or the list reachable by this thread
    // only.
    bool append_unlocked(i_object* item);
};

class xml_node : public array_object<xml_node>, public virtual i_xml_node {
public:
    xml_node();
    ~xml_node() override;

    const char* get_name() override;
    bool set_name(const char* name) override;
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
    // The nodes of every pool, in use or spare in their blocks.
    static unsigned long long held();

    // No reference added; valid while the nodes stay linked. Null at the
    // end of the list.
    xml_node* first_child() { return m_first_child; }
    xml_node* next_sibling() { return m_next; }
    // No reference added. Null for a root.
    xml_node* parent() { return m_parent; }

    // Building blocks of the parser, for a tree that only the parsing
    // thread can reach. Appends `child` with the caller's reference, which
    // becomes the list's.
    void adopt_child(xml_node* child);
    // Takes the packed record (see above) that lives in `chunk`, with the
    // chunk's count the caller holds.
    void set_record(const char* record, text_chunk* chunk);

    // Calls fn(name, value) for each attribute in order, under the
    // attribute list's lock once there is one.
    template <class Fn>
    void for_each_attribute(Fn fn);

private:
    // What has been changed since the parse (or set since create_node).
    struct edits;

    // Where the attributes start in the record.
    const char* record_attributes();
    // The side part, made when missing; null when memory runs out.
    edits* own_edits();
    // The attribute objects, made from the record when missing; null when
    // memory runs out.
    node_list* attribute_list();
    node_list* find_attribute_list();
    // Unlinks `child`, which is in the list after `prev` (null for the
    // first); its reference stays with the caller.
    void unlink(xml_node* child, xml_node* prev);
    // Links `child` in front of position `pos` (appends when there are
    // fewer children); the list takes over the caller's reference.
    void link(xml_node* child, unsigned int pos);
    void detach_children();
    // New reference: caller releases. The name, text and attributes
    // without the children; null when no node can be had.
    xml_node* copy_shallow();

    xml_node* m_parent;
    xml_node* m_first_child;
    xml_node* m_last_child;
    xml_node* m_next;
    const char* m_record;
    text_chunk* m_chunk;
    std::atomic<edits*> m_edits;
};

// The path walk behind select_nodes and select_single_node: appends the
// nodes that `xpath` reaches from `start` to `out`, in document order, each
// once. In single mode the walk stops at its first complete match.
void xml_select(xml_node* start, const char* xpath, object_col* out, bool single);

template <class Fn>
void xml_node::for_each_attribute(Fn fn)
{
    node_list* list = find_attribute_list();
    if (list == nullptr) {
        for (const char* p = record_attributes(); p != nullptr && *p != '\0';) {
            const char* value = p + std::strlen(p) + 1;
            fn(p, value);
            p = value + std::strlen(value) + 1;
        }
        return;
    }
    mutex_locker hold(list);
    unsigned int count = list->get_count();
    for (unsigned int i = 0; i < count; ++i) {
        i_object* item = list->get_item_by_pos(i);
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
