#include "xml/xml_node.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "object/interface_query.h"
#include "vek/core.h"
#include "xml/xml_proc.h"

namespace vek {

namespace {

// Set while a thread is taking a tree apart: nodes whose own count reaches
// 0 meanwhile queue here instead of detaching their children at once, so
// the depth of a tree never becomes the depth of the stack.
thread_local std::vector<xml_node*>* t_pending_detach = nullptr;

i_object* as_object(i_xml_node* node)
{
    return static_cast<i_object*>(node);
}

}  // namespace

i_object* node_list::peek(unsigned int pos)
{
    mutex_locker hold(this);
    return pos < m_items.size() ? m_items[pos] : nullptr;
}

bool node_list::append_unlocked(i_object* item)
{
    item->addref();
    return adopt_unlocked(item);
}

bool node_list::adopt_unlocked(i_object* item)
{
    try {
        m_items.push_back(item);
    } catch (const std::bad_alloc&) {
        item->release();
        return false;
    }
    m_count = static_cast<unsigned int>(m_items.size());
    return true;
}

void node_list::reserve_unlocked(unsigned int size)
{
    try {
        m_items.reserve(size);
    } catch (const std::bad_alloc&) {
        // Appends grow the list one by one instead.
    }
}

xml_node::xml_node() : m_parent(nullptr)
{
    m_own_count = 1;
}

xml_node::~xml_node() {}

xml_node* xml_node::from(i_object* obj)
{
    if (obj == nullptr) return nullptr;
    void* p = nullptr;
    if (!obj->get_interface("xml_node", &p)) return nullptr;
    return static_cast<xml_node*>(p);
}

xml_node* xml_node::child_at(unsigned int pos)
{
    return from(m_children.peek(pos));
}

bool xml_node::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_xml_node")) return answer(pp_obj, static_cast<i_xml_node*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    if (name_is(iface_name, "xml_node")) return answer(pp_obj, this);
    return array_object<xml_node>::get_interface(iface_name, pp_obj);
}

void xml_node::personal_destruct()
{
    if (t_pending_detach != nullptr) {
        // Keep the block alive (the own count is 0, so only the block
        // counter grows) until the outer loop has detached this node.
        addref();
        try {
            t_pending_detach->push_back(this);
            return;
        } catch (const std::bad_alloc&) {
            detach_children();
            release();
            return;
        }
    }
    std::vector<xml_node*> pending;
    t_pending_detach = &pending;
    detach_children();
    while (!pending.empty()) {
        xml_node* node = pending.back();
        pending.pop_back();
        node->detach_children();
        node->release();
    }
    t_pending_detach = nullptr;
}

void xml_node::detach_children()
{
    for (unsigned int i = 0;; ++i) {
        xml_node* child = child_at(i);
        if (child == nullptr) break;
        child->m_parent = nullptr;
    }
    m_children.clear();
}

bool xml_node::adopt_child(xml_node* child)
{
    // Room for a few children at once spares the list its first regrowths.
    if (m_children.get_count() == 0) m_children.reserve_unlocked(4);
    return m_children.adopt_unlocked(child);
}

// Parsed values and texts are held in buffers of their exact size (a tree
// holds many short ones); they grow by the usual rules when edited.
namespace {

// Heap text: caller frees with free(). Null when memory runs out.
char* exact_copy(const char* text, size_t length)
{
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

}  // namespace

bool xml_node::append_attribute(const char* name, const char* value)
{
    named_string* attr = new (std::nothrow) named_string();
    if (attr == nullptr) return false;
    // Ours while it is filled in; afterwards the list's reference is the
    // attribute's only one, or the attribute is freed.
    attr->addref();
    bool ok = attr->set_name(name);
    if (ok && *value != '\0') {
        char* copy = exact_copy(value, std::strlen(value));
        ok = copy != nullptr;
        if (ok) attr->assign(copy);
    }
    ok = ok && m_attributes.append_unlocked(attr);
    attr->release();
    return ok;
}

bool xml_node::set_text_n(const char* text, size_t length)
{
    if (length >= UINT_MAX) return false;
    char* copy = exact_copy(text, length);
    if (copy == nullptr) return false;
    m_text.assign(copy);
    return true;
}

const char* xml_node::get_text()
{
    return m_text.get_value();
}

bool xml_node::set_text(const char* text)
{
    if (text == nullptr) return false;
    m_text.set_value(text);
    return true;
}

i_object_col* xml_node::get_attributes()
{
    object_col* col = m_attributes.copy();
    return col != nullptr ? static_cast<i_object_col*>(col) : nullptr;
}

const char* xml_node::get_attribute(const char* name)
{
    i_object* item = m_attributes.get_item_by_name(name);
    if (item == nullptr) return "";
    void* p = nullptr;
    const char* value = "";
    if (item->get_interface("i_string", &p) && p != nullptr) value = static_cast<i_string*>(p)->get_value();
    // The list keeps the attribute, and with it the value.
    item->release();
    return value;
}

bool xml_node::set_attribute(const char* name, const char* value)
{
    if (name == nullptr || value == nullptr || !vek_is_running()) return false;
    mutex_locker hold(&m_attributes);
    i_object* item = m_attributes.get_item_by_name(name);
    if (item == nullptr) return append_attribute(name, value);
    void* p = nullptr;
    if (item->get_interface("i_string", &p) && p != nullptr) static_cast<i_string*>(p)->set_value(value);
    item->release();
    return true;
}

bool xml_node::delete_attribute(const char* name)
{
    if (name == nullptr) return false;
    i_object* item = nullptr;
    {
        mutex_locker hold(&m_attributes);
        int pos = m_attributes.get_item_pos(name);
        if (pos < 0) return false;
        item = m_attributes.get_item_by_pos(static_cast<unsigned int>(pos));
        m_attributes.remove_item(item);
    }
    // The last reference: the attribute goes outside the lock.
    item->release();
    return true;
}

i_object_col* xml_node::get_child_nodes()
{
    object_col* col = m_children.copy();
    return col != nullptr ? static_cast<i_object_col*>(col) : nullptr;
}

bool xml_node::add_child(i_xml_node* node, i_xml_node* prev_child)
{
    int pos = prev_child != nullptr ? m_children.get_item_pos(as_object(prev_child)) : -1;
    return insert_child(node, pos);
}

bool xml_node::insert_child(i_xml_node* node, int pos)
{
    if (node == nullptr) return false;
    xml_node* child = from(as_object(node));
    if (child == nullptr || child == this) return false;
    // The new place's reference comes first, so a move never drops the node.
    m_children.insert_item(child, pos < 0 ? UINT_MAX : static_cast<unsigned int>(pos));
    if (child->m_parent != nullptr) child->m_parent->remove_child(child);
    child->m_parent = this;
    return true;
}

bool xml_node::remove_child(i_xml_node* node)
{
    if (node == nullptr) return false;
    xml_node* child = from(as_object(node));
    if (child == nullptr) {
        m_children.remove_item(as_object(node));
        return true;
    }
    child->addref();
    m_children.remove_item(child);
    // A node that has left the list no longer names it as its parent, so the
    // link can never outlive the parent.
    if (child->m_parent == this && m_children.get_item_pos(child) < 0) child->m_parent = nullptr;
    child->release();
    return true;
}

i_xml_node* xml_node::get_parent_node()
{
    xml_node* parent = m_parent;
    if (parent == nullptr) return nullptr;
    parent->addref();
    return parent;
}

i_object_col* xml_node::select_nodes(const char* xpath)
{
    if (xpath == nullptr) return nullptr;
    object_col* col = new (std::nothrow) object_col();
    if (col == nullptr) return nullptr;
    col->addref();
    xml_select(this, xpath, col, false);
    return col;
}

i_xml_node* xml_node::select_single_node(const char* xpath)
{
    if (xpath == nullptr) return nullptr;
    object_col found;
    xml_select(this, xpath, &found, true);
    i_object* first = found.get_item_by_pos(0);
    // The temporary list goes before returning; `first` carries its own
    // reference.
    found.clear();
    xml_node* node = from(first);
    if (node == nullptr && first != nullptr) first->release();
    return node;
}

xml_node* xml_node::copy_shallow()
{
    xml_node* copy = xml_proc::new_node();
    if (copy == nullptr) return nullptr;
    copy->set_name(get_name());
    copy->set_text(get_text());
    for_each_attribute([copy](const char* name, const char* value) { copy->set_attribute(name, value); });
    return copy;
}

i_xml_node* xml_node::create_copy(bool recursive)
{
    xml_node* root = copy_shallow();
    if (root == nullptr || !recursive) return root;
    // Copies level by level from a worklist of (original, copy) pairs.
    try {
        std::vector<std::pair<xml_node*, xml_node*>> work{{this, root}};
        while (!work.empty()) {
            std::pair<xml_node*, xml_node*> next = work.back();
            work.pop_back();
            for (unsigned int i = 0;; ++i) {
                xml_node* child = next.first->child_at(i);
                if (child == nullptr) break;
                xml_node* copy = child->copy_shallow();
                if (copy == nullptr) throw std::bad_alloc();
                next.second->insert_child(copy, -1);
                // The copy's parent list keeps it.
                copy->release();
                work.emplace_back(child, copy);
            }
        }
    } catch (const std::bad_alloc&) {
        root->release();
        return nullptr;
    }
    return root;
}

}  // namespace vek
