// The exported event functions and the casts of the event classes.
#include "vek/events.h"

#include <new>

#include "events/event_proc.h"
#include "object/cast_impl.h"

void vek_fire_event(vek::i_event* evt, bool fire_immediately)
{
    vek::event_service svc;
    if (svc.get() == nullptr || evt == nullptr) return;
    evt->addref();
    svc.get()->fire_event(evt, fire_immediately);
    evt->release();
}

void vek_generate_event(const char* event_type, long long event_id, vek::i_object* event_object, bool fire_immediately)
{
    // Without a core or an event service the event is built and dropped,
    // and vek_fire_event does nothing.
    vek::event* e = new (std::nothrow) vek::event(event_type, event_id, event_object);
    if (e == nullptr) return;
    e->addref();
    vek_fire_event(e, fire_immediately);
    e->release();
}

void vek_install_handler(const char* event_type, long long object_id, vek::i_event_handler* handler,
                         vek::vek_event_function callback)
{
    vek::event_service svc;
    if (svc.get() == nullptr) return;
    svc.get()->install_handler(svc.get()->get_event_type(event_type), object_id, handler, callback);
}

void vek_uninstall_handler(const char* event_type, long long object_id, vek::i_event_handler* handler,
                           vek::vek_event_function callback)
{
    vek::event_service svc;
    if (svc.get() == nullptr) return;
    svc.get()->uninstall_handler(svc.get()->get_event_type(event_type), object_id, handler, callback);
}

VEK_DEFINE_CAST(vek::i_event, i_event)
VEK_DEFINE_CAST(vek::i_event_proc, i_event_proc)
VEK_DEFINE_CAST(vek::event_proc, event_proc)
