#include "vek/object/collection.h"

#include <cstring>
#include <map>
#include <new>

namespace {

struct name_less {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

// Keys point at the items' own names; each value holds one reference.
// multimap::insert places an entry after those with an equal key, which
// keeps equal names in source order.
typedef std::multimap<const char*, vek::i_named_object*, name_less> name_map;

void release_all(name_map& items)
{
    for (auto& entry : items) entry.second->release();
    items.clear();
}

// Takes every named item of `src` into `items`. False when the map cannot
// grow; what it holds then is still referenced.
bool collect_named(vek::i_object_col* src, name_map& items)
{
    unsigned int count = src->get_count();
    for (unsigned int i = 0; i < count; ++i) {
        vek::i_object* item = src->get_item_by_pos(i);
        if (item == nullptr) continue;
        void* p = nullptr;
        if (!item->get_interface("i_named_object", &p) || p == nullptr) {
            item->release();
            continue;
        }
        auto* named = static_cast<vek::i_named_object*>(p);
        const char* name = named->get_name();
        try {
            items.insert(name_map::value_type(name != nullptr ? name : "", named));
        } catch (const std::bad_alloc&) {
            item->release();
            return false;
        }
    }
    return true;
}

}  // namespace

vek::i_object_col* vek_sort_col(vek::i_object_col* src_col, bool ascending)
{
    if (src_col == nullptr) return nullptr;
    name_map items;
    if (!collect_named(src_col, items)) {
        release_all(items);
        return nullptr;
    }
    auto* col = new (std::nothrow) vek::object_col();
    if (col == nullptr) {
        release_all(items);
        return nullptr;
    }
    col->addref();
    col->reserve(static_cast<unsigned int>(items.size()));
    if (ascending) {
        for (auto it = items.begin(); it != items.end(); ++it) col->add_item(it->second, false);
    } else {
        for (auto it = items.rbegin(); it != items.rend(); ++it) col->add_item(it->second, false);
    }
    release_all(items);
    return col;
}
