// Property managers: named text values and named objects.
//
// Names are compared without regard to ASCII letter case; the first
// spelling used stays the key's spelling, and listings come in ascending
// case-insensitive order.
//
// Thread safety: property_manager is safe for concurrent use; one
// re-entrant lock per manager is held by every reading and writing
// operation.
#ifndef VEK_OBJECT_PROPERTY_H
#define VEK_OBJECT_PROPERTY_H

#include <map>
#include <string>

#include "vek/object/base.h"
#include "vek/object/collection.h"
#include "vek/object/sync.h"

namespace vek {

class VEK_API i_property_manager : public virtual i_object {
public:
    // Null `obj` removes the entry. False for a null name.
    virtual bool set_object(const char* name, i_object* obj) = 0;
    // New reference: caller releases. Null when there is none.
    virtual i_object* get_object(const char* name) = 0;
    // New reference: caller releases. A named_string (empty value) per
    // object property.
    virtual i_object_col* get_objects() = 0;
    // Owned by the manager, valid until the property is set again or the
    // manager is destroyed; "" when there is none.
    virtual const char* get_property(const char* name) = 0;
    // False for a null name or value. An empty value never creates an
    // entry, but empties an existing one.
    virtual bool set_property(const char* name, const char* value) = 0;
    // New reference: caller releases. A snapshot: one named_string per text
    // property.
    virtual i_object_col* get_properties() = 0;

protected:
    ~i_property_manager() = default;
};

// Case-insensitive ordering of property names.
struct VEK_API property_name_less {
    bool operator()(const std::string& a, const std::string& b) const;
};

class VEK_API i_property_manager_impl : public virtual i_property_manager {
public:
    i_property_manager_impl();
    i_property_manager_impl(const i_property_manager_impl&) = delete;
    i_property_manager_impl& operator=(const i_property_manager_impl&) = delete;
    // Releases every stored object.
    virtual ~i_property_manager_impl();

    bool set_object(const char* name, i_object* obj) override;
    i_object* get_object(const char* name) override;
    i_object_col* get_objects() override;
    const char* get_property(const char* name) override;
    bool set_property(const char* name, const char* value) override;
    i_object_col* get_properties() override;

protected:
    std::map<std::string, std::string, property_name_less> m_properties;
    // Each stored object carries one reference of the manager.
    std::map<std::string, i_object*, property_name_less> m_objects;
    mutex m_lock;
};

// Answers "i_property_manager".
class VEK_API property_manager : public object, public i_property_manager_impl {
public:
    property_manager();

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

}  // namespace vek

// New reference: caller releases.
VEK_API vek::i_property_manager* vek_create_property_manager();

#endif
