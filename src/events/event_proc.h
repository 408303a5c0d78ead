// The event processor behind the service "svc_event".
//
// It numbers event type names, keeps the handlers installed for each type
// and delivers events to them.
//
// Threads: install_handler and uninstall_handler only queue the change; a
// change takes effect at the start of the next delivery pass of any event
// (installs before uninstalls), so a delivery under way sees a handler
// installed during it and stops calling one uninstalled during it.
// fire_event(e, true) delivers in the caller's thread. fire_event(e, false)
// queues the event; delivery threads take queued events in order and
// deliver them (see delivery_queue.h); the processor's own thread only
// watches that queue for stalls. Deliveries therefore run concurrently and
// the same handler may run in several threads at once.
// Once the library stops running no handler is called.
//
// Locks: the type lock, the queue lock and the handler table's lock are
// never held together, and none is held while a handler runs, so a handler
// may fire events, install and uninstall handlers and use any service.
#ifndef VEK_EVENTS_EVENT_PROC_H
#define VEK_EVENTS_EVENT_PROC_H

#include <map>
#include <string>
#include <vector>

#include "events/delivery_queue.h"
#include "events/handler_table.h"
#include "vek/core.h"
#include "vek/events.h"
#include "vek/object.h"
#include "vek/status.h"

namespace vek {

class event_proc : public object, public thread_creator, public i_named_object_impl, public virtual i_event_proc,
                   public virtual i_status_source {
public:
    // Named "event_proc"; starts the worker thread (which fails, leaving the
    // queue undelivered, before the library's entry has run).
    event_proc();
    // Stops the worker (up to 60 seconds) and releases queued events
    // without delivering them. Installed handlers are forgotten.
    ~event_proc() override;

    // Answers "i_event_proc", "event_proc" (this class), "i_named_object"
    // and "i_status_source".
    bool get_interface(const char* iface_name, void** pp_obj) override;

    unsigned int get_event_type(const char* event_type_string) VEK_EXCLUDES(m_type_lock) override;
    void install_handler(unsigned int event_type, long long object_id, i_event_handler* handler,
                         vek_event_function callback) override;
    void uninstall_handler(unsigned int event_type, long long object_id, i_event_handler* handler,
                           vek_event_function callback) override;
    void fire_event(i_event* event, bool fire_immediately) override;

    // Delivers `e` in the calling thread: newest matching handler first,
    // each at most once, until one returns false or none is left.
    void deliver(i_event* e);
    // Queues `event` like fire_event(event, false), as coming from `source`
    // (udp_source, tcp_source): false when that source, or all sources
    // together, already have as many events waiting as allowed
    // (VEK_MAX_QUEUED_EVENTS per source, 1024 unless set; four times as
    // many for all). A refused event is not delivered and gets no reference.
    bool fire_from(i_event* event, unsigned int source);
    // The queue of events waiting for delivery, at this moment.
    event_backlog backlog() { return m_queue.backlog(); }
    // The name `type` was given; "" for a number never given out.
    std::string type_name(unsigned int type) VEK_EXCLUDES(m_type_lock);
    // <events>: the backlog, then each type with handlers and their count.
    void add_status(i_xml_node* status) override;

private:
    void queue_change(bool install, unsigned int event_type, long long object_id, i_event_handler* handler,
                      vek_event_function callback);
    bool enqueue(i_event* e, unsigned int source = 0);
    void worker(void*);

    std::map<std::string, unsigned int> m_type_names VEK_GUARDED_BY(m_type_lock);
    // The names in m_type_names by number, from the first number given out.
    std::vector<const std::string*> m_names_by_type VEK_GUARDED_BY(m_type_lock);
    unsigned int m_next_type VEK_GUARDED_BY(m_type_lock);
    handler_table m_handlers;
    delivery_queue m_queue;
    mutex m_type_lock;
};

// The event service of the current core, held for a scope. Both pointers
// are null without a core or without "svc_event".
class event_service {
public:
    event_service();
    event_service(const event_service&) = delete;
    event_service& operator=(const event_service&) = delete;
    ~event_service();

    // No reference added; valid while this holder lives.
    i_event_proc* get() { return m_proc; }
    event_proc* impl();

private:
    i_object* m_service;
    i_event_proc* m_proc;
};

// The backlog of the current core's event processor. False (and `out`
// untouched) without a core or without the event service.
bool get_event_backlog(event_backlog* out);

}  // namespace vek

#endif
