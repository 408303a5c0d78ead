// The object model: reference-counted objects reached through interfaces.
//
// Every interface derives virtually from i_object, so an object that
// implements several interfaces holds exactly one i_object part. Callers
// ask an object for another of its interfaces by the interface's exact name
// (get_interface) and hold it with addref/release. A new object has count 0;
// the release that brings the count to 0 deletes it.
//
// Thread safety:
// - object: addref/release are safe for concurrent use; get_interface too.
// - i_named_object_impl, i_typed_object_impl: one thread at a time (the
//   accessors take no lock; a shared object guards its own state).
// - auto_ptr_t: one thread at a time.
#ifndef VEK_OBJECT_BASE_H
#define VEK_OBJECT_BASE_H

#include <atomic>

#include "vek/export.h"

namespace vek {

class i_event;

// The root interface.
class VEK_API i_object {
public:
    // Adds one reference; returns the new count.
    virtual int addref() = 0;
    // Gives up one reference; returns the new count. The release that
    // reaches 0 destroys the object.
    virtual int release() = 0;
    // Stores the interface named `iface_name` (compared exactly) in *pp_obj
    // and returns true, or stores null and returns false.
    // No reference added.
    virtual bool get_interface(const char* iface_name, void** pp_obj) = 0;

protected:
    ~i_object() = default;
};

// The class on which event handler member functions are declared.
class VEK_API i_event_handler : public virtual i_object {
protected:
    ~i_event_handler() = default;
};

// An event handler: a member function of any object.
typedef bool (i_event_handler::*vek_event_function)(i_event*);

class VEK_API i_named_object : public virtual i_object {
public:
    // Owned by the object, valid until the name changes; "" when unnamed.
    virtual const char* get_name() = 0;
    virtual bool set_name(const char* name) = 0;

protected:
    ~i_named_object() = default;
};

class VEK_API i_typed_object : public virtual i_object {
public:
    virtual long long get_id() = 0;

protected:
    ~i_typed_object() = default;
};

// Implemented by modules, not by this library.
class VEK_API i_object_factory : public virtual i_object {
public:
    // New reference: caller releases.
    virtual i_object* create_instance(i_object* conf_obj) = 0;

protected:
    ~i_object_factory() = default;
};

// The reference-counted base of every implementation class. Its own
// get_interface answers no name; derived classes answer theirs and then
// delegate to their base class.
class VEK_API object : public i_event_handler, public virtual i_object {
public:
    object();
    object(const object&) = delete;
    object& operator=(const object&) = delete;
    // Warns on the trace output when the count is not 0.
    virtual ~object();

    int addref() override;
    int release() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

private:
    std::atomic<int> m_ref_count;
};

// Mixin that gives an object a name held on the process heap.
class VEK_API i_named_object_impl : public virtual i_named_object {
public:
    i_named_object_impl();
    i_named_object_impl(const i_named_object_impl&) = delete;
    i_named_object_impl& operator=(const i_named_object_impl&) = delete;
    virtual ~i_named_object_impl();

    const char* get_name() override;
    // Refuses null; "" removes the name; otherwise stores a copy.
    bool set_name(const char* name) override;
    // Takes over `name` (malloc'ed, or null for no name) without copying.
    virtual bool assign_name(char* name);

protected:
    char* m_name;
};

// Mixin that gives an object a 64-bit identifier, 0 until the class that
// mixes it in sets m_id.
class VEK_API i_typed_object_impl : public virtual i_typed_object {
public:
    i_typed_object_impl();
    virtual ~i_typed_object_impl();

    long long get_id() override;

protected:
    long long m_id;
};

}  // namespace vek

// Holds one reference and releases it when destroyed. Putting a pointer in
// does not add a reference: the holder takes over the one the creator
// returned.
template <class T>
class auto_ptr_t {
public:
    auto_ptr_t(T* p = nullptr) : m_ptr(p) {}
    auto_ptr_t(const auto_ptr_t&) = delete;
    auto_ptr_t& operator=(const auto_ptr_t&) = delete;
    auto_ptr_t(auto_ptr_t&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
    virtual ~auto_ptr_t() { reset(nullptr); }

    // Releases the held pointer and takes over `p`.
    auto_ptr_t& operator=(T* p)
    {
        reset(p);
        return *this;
    }
    void reset(T* p)
    {
        T* old = m_ptr;
        m_ptr = p;
        if (old != nullptr) old->release();
    }
    // Gives the held reference to the caller.
    T* detach()
    {
        T* p = m_ptr;
        m_ptr = nullptr;
        return p;
    }
    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    operator T*() const { return m_ptr; }
    bool is_ok() const { return m_ptr != nullptr; }

private:
    T* m_ptr;
};

#endif
