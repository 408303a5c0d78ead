#include "vek/object/collection.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "object/interface_query.h"

namespace vek {

namespace {

// Inserts before `pos` (appends when pos is past the end). False when the
// array cannot grow; the caller still owns the reference it meant to store.
bool put_item(std::vector<i_object*>& items, i_object* item, size_t pos) noexcept
{
    try {
        if (pos >= items.size())
            items.push_back(item);
        else
            items.insert(items.begin() + static_cast<std::ptrdiff_t>(pos), item);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

// The item's name, or null when it has no name interface.
const char* name_of(i_object* item)
{
    void* p = nullptr;
    if (!item->get_interface("i_named_object", &p) || p == nullptr) return nullptr;
    return static_cast<i_named_object*>(p)->get_name();
}

}  // namespace

object_col_impl::object_col_impl() : m_count(0) {}

object_col_impl::~object_col_impl()
{
    clear();
}

void object_col_impl::add_item(i_object* item, bool unique)
{
    if (item == nullptr) return;
    // Referenced before the lock is taken; a duplicate (or an item that does
    // not fit) gives its reference back only after the lock is dropped.
    item->addref();
    mutex_locker lock(this);
    if ((unique && get_item_pos(item) >= 0) || !put_item(m_items, item, m_items.size())) {
        lock.cancel();
        item->release();
        return;
    }
    m_count = static_cast<unsigned int>(m_items.size());
}

void object_col_impl::insert_item(i_object* item, unsigned int pos)
{
    if (item == nullptr) return;
    item->addref();
    mutex_locker lock(this);
    if (!put_item(m_items, item, pos)) {
        lock.cancel();
        item->release();
        return;
    }
    m_count = static_cast<unsigned int>(m_items.size());
}

void object_col_impl::remove_item(i_object* item)
{
    if (item == nullptr) return;
    mutex_locker lock(this);
    int pos = get_item_pos(item);
    if (pos < 0) return;
    m_items.erase(m_items.begin() + pos);
    m_count = static_cast<unsigned int>(m_items.size());
    // The item's destructor may call back into this collection or take
    // other locks; it must not run while this one is held.
    lock.cancel();
    item->release();
}

void object_col_impl::clear()
{
    std::vector<i_object*> items;
    {
        mutex_locker lock(this);
        items.swap(m_items);
        m_count = 0;
    }
    for (i_object* item : items) item->release();
}

int object_col_impl::get_item_pos(i_object* item)
{
    if (item == nullptr) return -1;
    mutex_locker lock(this);
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i] == item) return static_cast<int>(i);
    }
    return -1;
}

int object_col_impl::get_item_pos(const char* name)
{
    if (name == nullptr) return -1;
    mutex_locker lock(this);
    for (size_t i = 0; i < m_items.size(); ++i) {
        const char* item_name = name_of(m_items[i]);
        if (item_name != nullptr && std::strcmp(item_name, name) == 0) return static_cast<int>(i);
    }
    return -1;
}

object_col* object_col_impl::copy()
{
    object_col* col = new (std::nothrow) object_col();
    if (col == nullptr) return nullptr;
    col->addref();
    // Nobody else can hold the new collection's lock yet, so taking it
    // inside ours cannot deadlock.
    mutex_locker lock(this);
    col->reserve(static_cast<unsigned int>(m_items.size()));
    for (i_object* item : m_items) col->add_item(item, false);
    return col;
}

void object_col_impl::add_col(i_object_col* col, bool unique)
{
    if (col == nullptr) return;
    unsigned int count = col->get_count();
    // Lock order: this collection, then the source (inside get_item_by_pos).
    mutex_locker lock(this);
    for (unsigned int i = 0; i < count; ++i) {
        i_object* item = col->get_item_by_pos(i);
        if (item == nullptr) continue;
        if (unique && get_item_pos(item) >= 0) {
            // Safe under the lock: our own reference keeps the item alive.
            item->release();
            continue;
        }
        if (!put_item(m_items, item, m_items.size())) {
            lock.cancel();
            item->release();
            return;
        }
        m_count = static_cast<unsigned int>(m_items.size());
    }
}

bool object_col_impl::reserve(unsigned int size)
{
    mutex_locker lock(this);
    try {
        m_items.reserve(size);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

unsigned int object_col_impl::get_count()
{
    return m_count;
}

i_object* object_col_impl::get_item_by_pos(unsigned int pos)
{
    mutex_locker lock(this);
    if (pos >= m_items.size()) return nullptr;
    i_object* item = m_items[pos];
    item->addref();
    return item;
}

i_object* object_col_impl::get_item_by_id(long long id)
{
    mutex_locker lock(this);
    for (i_object* item : m_items) {
        void* p = nullptr;
        if (!item->get_interface("i_typed_object", &p) || p == nullptr) continue;
        if (static_cast<i_typed_object*>(p)->get_id() == id) {
            item->addref();
            return item;
        }
    }
    return nullptr;
}

i_object* object_col_impl::get_item_by_name(const char* name)
{
    mutex_locker lock(this);
    int pos = get_item_pos(name);
    if (pos < 0) return nullptr;
    i_object* item = m_items[static_cast<size_t>(pos)];
    item->addref();
    return item;
}

object_col::object_col() {}

bool object_col::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_object_col")) return answer(pp_obj, static_cast<i_object_col*>(this));
    return object::get_interface(iface_name, pp_obj);
}

object_col_x::object_col_x() {}

void object_col_x::add_item(i_object* item)
{
    object_col_impl::add_item(item, false);
}

void object_col_x::remove_item(i_object* item)
{
    object_col_impl::remove_item(item);
}

bool object_col_x::reserve(unsigned int size)
{
    return object_col_impl::reserve(size);
}

bool object_col_x::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_object_col_x")) return answer(pp_obj, static_cast<i_object_col_x*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    return object_col::get_interface(iface_name, pp_obj);
}

}  // namespace vek

vek::i_object_col_x* vek_create_col()
{
    vek::object_col_x* col = new (std::nothrow) vek::object_col_x();
    if (col == nullptr) return nullptr;
    col->addref();
    return col;
}
