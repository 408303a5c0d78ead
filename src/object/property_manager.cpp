#include "vek/object/property.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "object/interface_query.h"
#include "vek/object/string.h"

namespace vek {

namespace {

unsigned char fold(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

// A new collection with one reference holding a named_string per key, in
// key order; the values come from `value_of`. Null when memory runs out.
template <class Map, class ValueOf>
i_object_col* list_names(const Map& entries, ValueOf value_of)
{
    auto* col = new (std::nothrow) object_col();
    if (col == nullptr) return nullptr;
    col->addref();
    col->reserve(static_cast<unsigned int>(entries.size()));
    for (const auto& entry : entries) {
        auto* item = new (std::nothrow) named_string(entry.first.c_str(), value_of(entry));
        if (item == nullptr) {
            col->release();
            return nullptr;
        }
        item->addref();
        col->add_item(item, false);
        item->release();
    }
    return col;
}

}  // namespace

bool property_name_less::operator()(const std::string& a, const std::string& b) const
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = fold(a[i]);
        unsigned char cb = fold(b[i]);
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

i_property_manager_impl::i_property_manager_impl() {}

i_property_manager_impl::~i_property_manager_impl()
{
    for (auto& entry : m_objects) entry.second->release();
    m_objects.clear();
}

bool i_property_manager_impl::set_object(const char* name, i_object* obj)
{
    if (name == nullptr) return false;
    // The new object is referenced before the old one is released, so
    // storing the object already stored never lets it reach count 0.
    if (obj != nullptr) obj->addref();
    i_object* old = nullptr;
    bool stored = true;
    {
        mutex_locker lock(&m_lock);
        try {
            auto it = m_objects.find(name);
            if (it != m_objects.end()) {
                old = it->second;
                if (obj != nullptr)
                    it->second = obj;
                else
                    m_objects.erase(it);
            } else if (obj != nullptr) {
                m_objects.emplace(name, obj);
            }
        } catch (const std::exception&) {
            stored = false;
        }
    }
    // Released outside the lock: a destructor may call back into the manager.
    if (old != nullptr) old->release();
    if (!stored && obj != nullptr) obj->release();
    return stored;
}

i_object* i_property_manager_impl::get_object(const char* name)
{
    if (name == nullptr) return nullptr;
    mutex_locker lock(&m_lock);
    try {
        auto it = m_objects.find(name);
        if (it == m_objects.end()) return nullptr;
        // Referenced under the lock, so a concurrent set_object cannot
        // destroy it before the caller holds it.
        it->second->addref();
        return it->second;
    } catch (const std::exception&) {
        return nullptr;
    }
}

i_object_col* i_property_manager_impl::get_objects()
{
    mutex_locker lock(&m_lock);
    return list_names(m_objects, [](const std::pair<const std::string, i_object*>&) { return ""; });
}

const char* i_property_manager_impl::get_property(const char* name)
{
    if (name == nullptr) return "";
    mutex_locker lock(&m_lock);
    try {
        auto it = m_properties.find(name);
        return it == m_properties.end() ? "" : it->second.c_str();
    } catch (const std::exception&) {
        return "";
    }
}

bool i_property_manager_impl::set_property(const char* name, const char* value)
{
    if (name == nullptr || value == nullptr) return false;
    mutex_locker lock(&m_lock);
    try {
        auto it = m_properties.find(name);
        if (it != m_properties.end())
            it->second = value;
        else if (*value != '\0')
            m_properties.emplace(name, value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

i_object_col* i_property_manager_impl::get_properties()
{
    mutex_locker lock(&m_lock);
    return list_names(m_properties,
                      [](const std::pair<const std::string, std::string>& entry) { return entry.second.c_str(); });
}

property_manager::property_manager() {}

bool property_manager::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_property_manager")) return answer(pp_obj, static_cast<i_property_manager*>(this));
    return object::get_interface(iface_name, pp_obj);
}

}  // namespace vek

vek::i_property_manager* vek_create_property_manager()
{
    auto* manager = new (std::nothrow) vek::property_manager();
    if (manager == nullptr) return nullptr;
    manager->addref();
    return manager;
}
