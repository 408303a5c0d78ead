#include "xml/xml_node.h"

#include <atomic>
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

bool node_list::append_unlocked(i_object* item)
{
    item->addref();
    try {
        m_items.push_back(item);
    } catch (const std::bad_alloc&) {
        item->release();
        return false;
    }
    m_count = static_cast<unsigned int>(m_items.size());
    return true;
}

struct xml_node::edits {
    edits() = default;
    edits(const edits&) = delete;
    edits& operator=(const edits&) = delete;
    ~edits()
    {
        std::free(name);
        std::free(text);
        node_list* list = attributes.load(std::memory_order_acquire);
        if (list != nullptr) list->release();
    }

    bool has_name = false;
    bool has_text = false;
    char* name = nullptr;
    char* text = nullptr;
    std::atomic<node_list*> attributes{nullptr};
};

namespace {

// Heap text: caller frees with free(). Null for "" (and when memory runs
// out, which *ok reports).
char* copy_or_null(const char* text, bool* ok)
{
    if (*text == '\0') {
        *ok = true;
        return nullptr;
    }
    char* copy = strdup(text);
    *ok = copy != nullptr;
    return copy;
}

// New reference: caller releases. Null when memory runs out. The value is
// held in a buffer of its exact size.
named_string* new_attribute(const char* name, const char* value)
{
    named_string* attr = new (std::nothrow) named_string();
    if (attr == nullptr) return nullptr;
    attr->addref();
    bool ok = attr->set_name(name);
    char* copy = ok ? copy_or_null(value, &ok) : nullptr;
    if (copy != nullptr) attr->assign(copy);
    if (ok) return attr;
    attr->release();
    return nullptr;
}

}  // namespace

namespace {

// Nodes that exist, in use or waiting in a pool block.
std::atomic<unsigned long long> g_nodes_held{0};

}  // namespace

unsigned long long xml_node::held()
{
    return g_nodes_held.load(std::memory_order_relaxed);
}

xml_node::xml_node()
    : m_parent(nullptr),
      m_first_child(nullptr),
      m_last_child(nullptr),
      m_next(nullptr),
      m_record(nullptr),
      m_chunk(nullptr),
      m_edits(nullptr)
{
    g_nodes_held.fetch_add(1, std::memory_order_relaxed);
    m_own_count = 1;
}

xml_node::~xml_node()
{
    g_nodes_held.fetch_sub(1, std::memory_order_relaxed);
    delete m_edits.load(std::memory_order_acquire);
    if (m_chunk != nullptr) m_chunk->release();
}

xml_node* xml_node::from(i_object* obj)
{
    if (obj == nullptr) return nullptr;
    void* p = nullptr;
    if (!obj->get_interface("xml_node", &p)) return nullptr;
    return static_cast<xml_node*>(p);
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
    xml_node* child = m_first_child;
    m_first_child = nullptr;
    m_last_child = nullptr;
    while (child != nullptr) {
        xml_node* next = child->m_next;
        child->m_next = nullptr;
        child->m_parent = nullptr;
        child->release();
        child = next;
    }
}

void xml_node::adopt_child(xml_node* child)
{
    link(child, UINT_MAX);
    child->m_parent = this;
}

void xml_node::set_record(const char* record, text_chunk* chunk)
{
    m_record = record;
    m_chunk = chunk;
}

void xml_node::link(xml_node* child, unsigned int pos)
{
    xml_node* prev = nullptr;
    xml_node* next = m_first_child;
    // The end is known without a walk.
    if (pos == UINT_MAX) {
        prev = m_last_child;
        next = nullptr;
    }
    for (; pos > 0 && next != nullptr; --pos) {
        prev = next;
        next = next->m_next;
    }
    child->m_next = next;
    if (prev != nullptr) {
        prev->m_next = child;
    } else {
        m_first_child = child;
    }
    if (next == nullptr) m_last_child = child;
}

void xml_node::unlink(xml_node* child, xml_node* prev)
{
    if (prev != nullptr) {
        prev->m_next = child->m_next;
    } else {
        m_first_child = child->m_next;
    }
    if (m_last_child == child) m_last_child = prev;
    child->m_next = nullptr;
}

const char* xml_node::record_attributes()
{
    if (m_record == nullptr) return nullptr;
    const char* text = m_record + std::strlen(m_record) + 1;
    return text + std::strlen(text) + 1;
}

xml_node::edits* xml_node::own_edits()
{
    edits* e = m_edits.load(std::memory_order_acquire);
    if (e != nullptr) return e;
    edits* made = new (std::nothrow) edits();
    if (made == nullptr) return nullptr;
    // Two threads setting attributes may race to make it; one wins.
    if (m_edits.compare_exchange_strong(e, made, std::memory_order_acq_rel)) return made;
    delete made;
    return e;
}

node_list* xml_node::find_attribute_list()
{
    edits* e = m_edits.load(std::memory_order_acquire);
    return e != nullptr ? e->attributes.load(std::memory_order_acquire) : nullptr;
}

node_list* xml_node::attribute_list()
{
    edits* e = own_edits();
    if (e == nullptr) return nullptr;
    node_list* list = e->attributes.load(std::memory_order_acquire);
    if (list != nullptr) return list;
    node_list* made = new (std::nothrow) node_list();
    if (made == nullptr) return nullptr;
    made->addref();
    bool ok = true;
    for (const char* p = record_attributes(); ok && p != nullptr && *p != '\0';) {
        const char* value = p + std::strlen(p) + 1;
        named_string* attr = new_attribute(p, value);
        ok = attr != nullptr && made->append_unlocked(attr);
        if (attr != nullptr) attr->release();
        p = value + std::strlen(value) + 1;
    }
    if (ok && e->attributes.compare_exchange_strong(list, made, std::memory_order_acq_rel)) return made;
    made->release();
    return ok ? list : nullptr;
}

const char* xml_node::get_name()
{
    edits* e = m_edits.load(std::memory_order_acquire);
    if (e != nullptr && e->has_name) return e->name != nullptr ? e->name : "";
    return m_record != nullptr ? m_record : "";
}

bool xml_node::set_name(const char* name)
{
    if (name == nullptr) return false;
    edits* e = own_edits();
    bool ok = false;
    char* copy = e != nullptr ? copy_or_null(name, &ok) : nullptr;
    if (!ok) return false;
    std::free(e->name);
    e->name = copy;
    e->has_name = true;
    return true;
}

const char* xml_node::get_text()
{
    edits* e = m_edits.load(std::memory_order_acquire);
    if (e != nullptr && e->has_text) return e->text != nullptr ? e->text : "";
    return m_record != nullptr ? m_record + std::strlen(m_record) + 1 : "";
}

bool xml_node::set_text(const char* text)
{
    if (text == nullptr) return false;
    edits* e = own_edits();
    bool ok = false;
    char* copy = e != nullptr ? copy_or_null(text, &ok) : nullptr;
    if (!ok) return false;
    std::free(e->text);
    e->text = copy;
    e->has_text = true;
    return true;
}

i_object_col* xml_node::get_attributes()
{
    node_list* list = attribute_list();
    object_col* col = list != nullptr ? list->copy() : nullptr;
    return col != nullptr ? static_cast<i_object_col*>(col) : nullptr;
}

const char* xml_node::get_attribute(const char* name)
{
    if (name == nullptr) return "";
    node_list* list = find_attribute_list();
    if (list == nullptr) {
        const char* found = "";
        for_each_attribute([name, &found](const char* n, const char* value) {
            if (*found == '\0' && std::strcmp(n, name) == 0) found = value;
        });
        return found;
    }
    i_object* item = list->get_item_by_name(name);
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
    node_list* list = attribute_list();
    if (list == nullptr) return false;
    mutex_locker hold(list);
    i_object* item = list->get_item_by_name(name);
    if (item == nullptr) {
        named_string* attr = new_attribute(name, value);
        bool ok = attr != nullptr && list->append_unlocked(attr);
        if (attr != nullptr) attr->release();
        return ok;
    }
    void* p = nullptr;
    if (item->get_interface("i_string", &p) && p != nullptr) static_cast<i_string*>(p)->set_value(value);
    item->release();
    return true;
}

bool xml_node::delete_attribute(const char* name)
{
    if (name == nullptr) return false;
    // A name the record lacks needs no list.
    if (find_attribute_list() == nullptr) {
        bool present = false;
        for_each_attribute(
            [name, &present](const char* n, const char*) { present = present || std::strcmp(n, name) == 0; });
        if (!present) return false;
    }
    node_list* list = attribute_list();
    if (list == nullptr) return false;
    i_object* item = nullptr;
    {
        mutex_locker hold(list);
        int pos = list->get_item_pos(name);
        if (pos < 0) return false;
        item = list->get_item_by_pos(static_cast<unsigned int>(pos));
        list->remove_item(item);
    }
    // The last reference: the attribute goes outside the lock.
    item->release();
    return true;
}

i_object_col* xml_node::get_child_nodes()
{
    node_list* col = new (std::nothrow) node_list();
    if (col == nullptr) return nullptr;
    col->addref();
    for (xml_node* child = m_first_child; child != nullptr; child = child->m_next) {
        if (!col->append_unlocked(child)) {
            col->release();
            return nullptr;
        }
    }
    return col;
}

bool xml_node::add_child(i_xml_node* node, i_xml_node* prev_child)
{
    xml_node* prev = prev_child != nullptr ? from(as_object(prev_child)) : nullptr;
    int pos = 0;
    xml_node* child = m_first_child;
    for (; prev != nullptr && child != nullptr && child != prev; child = child->m_next) ++pos;
    return insert_child(node, prev != nullptr && child != nullptr ? pos : -1);
}

bool xml_node::insert_child(i_xml_node* node, int pos)
{
    if (node == nullptr) return false;
    xml_node* child = from(as_object(node));
    if (child == nullptr || child == this) return false;
    unsigned int at = pos < 0 ? UINT_MAX : static_cast<unsigned int>(pos);
    xml_node* old_parent = child->m_parent;
    unsigned int index = 0;
    xml_node* prev = nullptr;
    if (old_parent != nullptr) {
        for (xml_node* n = old_parent->m_first_child; n != child; n = n->m_next) {
            prev = n;
            ++index;
        }
    }
    if (old_parent == this) {
        // Inserting in front of its own place, and then taking out the first
        // occurrence, leaves the order as it was; further on, the node ends
        // up one place before `pos`.
        if (at <= index) return true;
        unlink(child, prev);
        link(child, at - 1);
        return true;
    }
    // The old parent's reference becomes the new one's, so a move never
    // drops the node.
    if (old_parent != nullptr) {
        old_parent->unlink(child, prev);
    } else {
        child->addref();
    }
    link(child, at);
    child->m_parent = this;
    return true;
}

bool xml_node::remove_child(i_xml_node* node)
{
    if (node == nullptr) return false;
    xml_node* child = from(as_object(node));
    if (child == nullptr || child->m_parent != this) return true;
    xml_node* prev = nullptr;
    for (xml_node* n = m_first_child; n != child; n = n->m_next) prev = n;
    unlink(child, prev);
    // A node that has left the list no longer names it as its parent, so the
    // link can never outlive the parent.
    child->m_parent = nullptr;
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
    if (m_edits.load(std::memory_order_acquire) == nullptr && m_record != nullptr) {
        // An unedited parsed node shares its record.
        m_chunk->addref();
        copy->set_record(m_record, m_chunk);
        return copy;
    }
    if (*get_name() != '\0') copy->set_name(get_name());
    if (*get_text() != '\0') copy->set_text(get_text());
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
            for (xml_node* child = next.first->m_first_child; child != nullptr; child = child->m_next) {
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
