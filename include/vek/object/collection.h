// Object collections: ordered, growable lists of referenced objects.
//
// A collection holds one reference to each item it stores and gives it back
// when the item is removed or the collection is cleared or destroyed. Items
// are stored as their i_object part; null is never stored. Lookups hand out
// a new reference that the caller releases; pointers passed in stay the
// caller's.
//
// Thread safety: object_col and object_col_x are safe for concurrent use.
// Each has its own re-entrant lock, held by every operation but get_count;
// items are released after the lock is dropped. add_col locks the target
// and then the source (lock order: target, then source). Walking by position
// from outside (count, then get_item_by_pos) is not atomic.
#ifndef VEK_OBJECT_COLLECTION_H
#define VEK_OBJECT_COLLECTION_H

#include <atomic>
#include <vector>

#include "vek/object/base.h"
#include "vek/object/sync.h"

namespace vek {

class object_col;

class VEK_API i_object_col : public virtual i_object {
public:
    virtual unsigned int get_count() = 0;
    // New reference: caller releases. Null when pos >= count.
    virtual i_object* get_item_by_pos(unsigned int pos) = 0;
    // New reference: caller releases. The first item answering
    // "i_typed_object" with that id, or null.
    virtual i_object* get_item_by_id(long long id) = 0;
    // New reference: caller releases. The first item answering
    // "i_named_object" with exactly that name, or null.
    virtual i_object* get_item_by_name(const char* name) = 0;

protected:
    ~i_object_col() = default;
};

// A collection that callers may also fill.
class VEK_API i_object_col_x : public virtual i_object_col {
public:
    virtual void add_item(i_object* item) = 0;
    virtual void remove_item(i_object* item) = 0;
    virtual bool reserve(unsigned int size) = 0;

protected:
    ~i_object_col_x() = default;
};

// The implementation of i_object_col for any class that mixes it in.
class VEK_API object_col_impl : public mutex, public virtual i_object_col {
public:
    object_col_impl();
    virtual ~object_col_impl();

    // Adds a reference to `item` and appends it; with `unique`, an item
    // already present is not added again.
    virtual void add_item(i_object* item, bool unique);
    // Removes the first occurrence and releases it.
    virtual void remove_item(i_object* item);
    // Inserts before `pos`, or appends when pos >= count.
    virtual void insert_item(i_object* item, unsigned int pos);
    virtual void clear();
    // Position of the first occurrence of the pointer, or -1.
    virtual int get_item_pos(i_object* item);
    // Position of the first item named exactly `name`, or -1.
    virtual int get_item_pos(const char* name);
    // New reference: caller releases. A new collection with the same items.
    virtual object_col* copy();
    // Appends every item of `col` (skipping those present, with `unique`).
    virtual void add_col(i_object_col* col, bool unique);
    virtual bool reserve(unsigned int size);

    unsigned int get_count() override;
    i_object* get_item_by_pos(unsigned int pos) override;
    i_object* get_item_by_id(long long id) override;
    i_object* get_item_by_name(const char* name) override;

protected:
    std::vector<i_object*> m_items;
    // Mirrors m_items.size() so that get_count can read it without the lock.
    std::atomic<unsigned int> m_count;
};

// Answers "i_object_col".
class VEK_API object_col : public object, public object_col_impl {
public:
    object_col();

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

// A named collection that callers may fill. Answers "i_object_col_x",
// "i_named_object", "i_object_col".
class VEK_API object_col_x : public object_col, public i_named_object_impl, public virtual i_object_col_x {
public:
    object_col_x();

    using object_col_impl::add_item;
    void add_item(i_object* item) override;
    void remove_item(i_object* item) override;
    bool reserve(unsigned int size) override;

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

}  // namespace vek

// New reference: caller releases. An empty, unnamed collection.
VEK_API vek::i_object_col_x* vek_create_col();
// New reference: caller releases. The items of `src_col` that answer
// "i_named_object", ordered by name (strcmp); equal names keep their source
// order ascending and are reversed descending. Null when src_col is null.
VEK_API vek::i_object_col* vek_sort_col(vek::i_object_col* src_col, bool ascending);

#endif
