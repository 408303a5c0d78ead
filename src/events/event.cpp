#include "vek/events.h"

#include "events/event_proc.h"
#include "object/interface_query.h"

namespace vek {

namespace {

// The number of `name` from the event service, assigned on first use.
// False (and *type untouched) without a core or without the service.
bool lookup_type(const char* name, unsigned int* type)
{
    event_service svc;
    if (svc.get() == nullptr) return false;
    *type = svc.get()->get_event_type(name);
    return true;
}

}  // namespace

event::event() : m_type(0), m_object(nullptr), m_id(0) {}

event::event(unsigned int type, long long id, i_object* obj) : m_type(type), m_object(nullptr), m_id(id)
{
    set_event_object(obj);
}

event::event(const char* event_type, long long id, i_object* obj) : m_type(0), m_object(nullptr), m_id(0)
{
    // Without a core the event stays empty; without the event service only
    // the type is missing.
    if (vek_core() == nullptr) return;
    lookup_type(event_type, &m_type);
    m_id = id;
    set_event_object(obj);
}

event::~event()
{
    set_event_object(nullptr);
}

bool event::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_event")) return answer(pp_obj, static_cast<i_event*>(this));
    return object::get_interface(iface_name, pp_obj);
}

long long event::get_event_id()
{
    return m_id;
}

unsigned int event::get_event_type()
{
    return m_type;
}

i_object* event::get_event_object()
{
    if (m_object != nullptr) m_object->addref();
    return m_object;
}

void event::set_event_type(const char* event_type)
{
    lookup_type(event_type, &m_type);
}

void event::set_event_type_id(unsigned int type)
{
    m_type = type;
}

void event::set_event_id(long long id)
{
    m_id = id;
}

void event::set_event_object(i_object* obj)
{
    // Referenced before the old one goes, so storing the same object again
    // never destroys it.
    if (obj != nullptr) obj->addref();
    i_object* old = m_object;
    m_object = obj;
    if (old != nullptr) old->release();
}

}  // namespace vek
