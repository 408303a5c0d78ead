// Events and the event processor.
//
// An event carries a type number, a 64-bit identifier naming its source
// (0: no particular source) and an optional payload object. Types are named
// by strings; the event processor ("svc_event") numbers names from 100000 in
// order of first use.
//
// Delivery: handlers are member functions (vek_event_function) of any
// object. The most recently installed matching handler is called first; a
// handler installed with object identifier 0 matches every event of its
// type, otherwise only events with that identifier. A handler returning
// false ends the delivery. Each matching handler is called at most once per
// delivery. Installs and uninstalls, also from inside a handler, take
// effect at the start of the next pass of any delivery: a handler installed
// during a delivery is called later in it when it matches; one uninstalled
// is not called any more. No lock is held while a handler runs.
//
// Threads: fire_event(e, true) delivers in the calling thread before it
// returns. fire_event(e, false) queues the event and returns at once; the
// processor's worker thread takes events in order and delivers each one in
// its own pool thread, so queued deliveries run concurrently and may finish
// in any order. Once the library stops running no handler is called.
//
// Thread safety: event is one thread at a time (it is filled before it is
// fired); the event processor is safe for concurrent use.
#ifndef VEK_EVENTS_H
#define VEK_EVENTS_H

#include "vek/export.h"
#include "vek/object/base.h"

namespace vek {

class event_proc;

class VEK_API i_event : public virtual i_object {
public:
    virtual long long get_event_id() = 0;
    virtual unsigned int get_event_type() = 0;
    // New reference: caller releases. Null when there is none.
    virtual i_object* get_event_object() = 0;

protected:
    ~i_event() = default;
};

// Answers "i_event". Holds one reference to its event object.
class VEK_API event : public object, public virtual i_event {
public:
    event();
    event(unsigned int type, long long id, i_object* obj);
    // Numbers `event_type` through the event service. Without a core the
    // event stays empty (type 0, id 0, no object); without the service the
    // type is 0.
    event(const char* event_type, long long id, i_object* obj);
    ~event() override;

    long long get_event_id() override;
    unsigned int get_event_type() override;
    i_object* get_event_object() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

    // Unchanged without a core or event service.
    void set_event_type(const char* event_type);
    void set_event_type_id(unsigned int type);
    void set_event_id(long long id);
    // Releases the old object and references the new one.
    void set_event_object(i_object* obj);

private:
    unsigned int m_type;
    i_object* m_object;
    long long m_id;
};

class VEK_API i_event_proc : public virtual i_object {
public:
    // 0 for a null name; otherwise the name's number, assigned on first use.
    virtual unsigned int get_event_type(const char* event_type_string) = 0;
    // The handler is not referenced: an object uninstalls its handlers
    // before it is destroyed.
    virtual void install_handler(unsigned int event_type, long long object_id, i_event_handler* handler,
                                 vek_event_function callback) = 0;
    // Removes one matching record (same identifier, handler and callback).
    virtual void uninstall_handler(unsigned int event_type, long long object_id, i_event_handler* handler,
                                   vek_event_function callback) = 0;
    virtual void fire_event(i_event* event, bool fire_immediately) = 0;

protected:
    ~i_event_proc() = default;
};

}  // namespace vek

// Each does nothing without a core or without "svc_event".
VEK_API void vek_fire_event(vek::i_event* evt, bool fire_immediately);
VEK_API void vek_generate_event(const char* event_type, long long event_id, vek::i_object* event_object,
                                bool fire_immediately);
VEK_API void vek_install_handler(const char* event_type, long long object_id, vek::i_event_handler* handler,
                                 vek::vek_event_function callback);
VEK_API void vek_uninstall_handler(const char* event_type, long long object_id, vek::i_event_handler* handler,
                                   vek::vek_event_function callback);

VEK_API vek::i_event* vek_cast_i_event(vek::i_object* obj);
VEK_API vek::i_event_proc* vek_cast_i_event_proc(vek::i_object* obj);
// The implementation object behind "svc_event" (the name "event_proc").
VEK_API vek::event_proc* vek_cast_event_proc(vek::i_object* obj);

#endif
