#include "events/event_proc.h"

#include <cxxabi.h>

#include <chrono>
#include <cstdlib>
#include <new>

#include "object/interface_query.h"
#include "object/thread_count.h"
#include "platform/env.h"

namespace vek {

namespace {

const unsigned int k_first_type = 100000;
// Events one network source may have waiting, unless VEK_MAX_QUEUED_EVENTS
// says otherwise; all sources together may have four times as many.
const long k_source_limit = 1024;
const long k_max_source_limit = 1L << 24;
// How long the watcher waits without news before it looks at its stop
// flag and the running flag again.
const std::chrono::milliseconds k_worker_wait(20);

// Delivers one queued event in a delivery thread. The service reference
// keeps the processor alive for the delivery.
void deliver_queued(i_event* e)
{
    event_service svc;
    if (svc.impl() == nullptr) return;
    thread_activity doing(("event " + svc.impl()->type_name(e->get_event_type())).c_str());
    svc.impl()->deliver(e);
}

// Runs one handler. A handler that throws is reported and treated as if it
// had returned true, so the remaining handlers still see the event.
bool call_handler(i_event_handler* handler, vek_event_function callback, i_event* e)
{
    try {
        return (handler->*callback)(e);
    } catch (abi::__forced_unwind&) {
        throw;  // thread cancellation must unwind
    } catch (...) {
        vek_trace("event_proc: a handler for event type %u ended by an exception", e->get_event_type());
        return true;
    }
}

}  // namespace

event_service::event_service() : m_service(nullptr), m_proc(nullptr)
{
    i_core* c = vek_core();
    if (c == nullptr) return;
    m_service = c->get_service("svc_event");
    m_proc = vek_cast_i_event_proc(m_service);
}

event_service::~event_service()
{
    if (m_service != nullptr) m_service->release();
}

event_proc* event_service::impl()
{
    return vek_cast_event_proc(m_service);
}

event_proc::event_proc() : m_next_type(k_first_type), m_queue(deliver_queued)
{
    const char* limit = platform::get_env("VEK_MAX_QUEUED_EVENTS");
    long per_source = limit != nullptr ? std::atol(limit) : 0;
    if (per_source <= 0 || per_source > k_max_source_limit) per_source = k_source_limit;
    m_queue.set_limits(static_cast<unsigned int>(per_source), static_cast<unsigned int>(per_source) * 4);
    set_name("event_proc");
    create_thread(this, static_cast<thread_function>(&event_proc::worker), nullptr);
}

event_proc::~event_proc()
{
    vek_trace("event_proc::~event_proc()");
    stop_threads(60);
    m_queue.stop(60);
}

bool event_proc::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_event_proc")) return answer(pp_obj, static_cast<i_event_proc*>(this));
    if (name_is(iface_name, "event_proc")) return answer(pp_obj, this);
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    if (name_is(iface_name, "i_status_source")) return answer(pp_obj, static_cast<i_status_source*>(this));
    return object::get_interface(iface_name, pp_obj);
}

std::string event_proc::type_name(unsigned int type)
{
    mutex_locker lock(&m_type_lock);
    if (type < k_first_type || type - k_first_type >= m_names_by_type.size()) return std::string();
    return *m_names_by_type[type - k_first_type];
}

unsigned int event_proc::get_event_type(const char* event_type_string)
{
    if (event_type_string == nullptr) return 0;
    mutex_locker lock(&m_type_lock);
    try {
        // Room first, so that a new name is in both or in neither.
        if (m_names_by_type.size() == m_names_by_type.capacity()) m_names_by_type.reserve(m_names_by_type.size() * 2 + 16);
        auto inserted = m_type_names.emplace(event_type_string, m_next_type);
        if (inserted.second) {
            m_names_by_type.push_back(&inserted.first->first);
            ++m_next_type;
        }
        return inserted.first->second;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

void event_proc::install_handler(unsigned int event_type, long long object_id, i_event_handler* handler,
                                 vek_event_function callback)
{
    queue_change(true, event_type, object_id, handler, callback);
}

void event_proc::uninstall_handler(unsigned int event_type, long long object_id, i_event_handler* handler,
                                   vek_event_function callback)
{
    queue_change(false, event_type, object_id, handler, callback);
}

void event_proc::queue_change(bool install, unsigned int event_type, long long object_id, i_event_handler* handler,
                              vek_event_function callback)
{
    if (event_type == 0 || handler == nullptr) return;
    handler_record rec{object_id, event_type, handler, static_cast<i_object*>(handler), callback};
    if (!(install ? m_handlers.queue_install(rec) : m_handlers.queue_uninstall(rec))) {
        vek_trace("event_proc: out of memory, handler change for event type %u dropped", event_type);
    }
}

void event_proc::deliver(i_event* e)
{
    if (e == nullptr) return;
    handler_table::walk walk;
    handler_record picked{};
    try {
        // Type and identifier are read on every pass: a handler may re-type
        // the event for the handlers after it.
        while (m_handlers.next(e, walk, &picked) && vek_is_running()) {
            if (!call_handler(picked.handler, picked.callback, e)) return;
        }
    } catch (const std::bad_alloc&) {
        vek_trace("event_proc: out of memory, delivery of event type %u ended", e->get_event_type());
    }
}

void event_proc::fire_event(i_event* event, bool fire_immediately)
{
    if (event == nullptr) return;
    // Held for the call: the caller may hand in an event nobody else holds.
    event->addref();
    if (fire_immediately) {
        deliver(event);
    } else {
        enqueue(event);
    }
    event->release();
}

bool event_proc::enqueue(i_event* e, unsigned int source)
{
    e->addref();
    try {
        if (m_queue.push(e, source)) return true;
    } catch (const std::bad_alloc&) {
        vek_trace("event_proc: out of memory, queued event of type %u dropped", e->get_event_type());
    }
    e->release();
    return false;
}

bool event_proc::fire_from(i_event* event, unsigned int source)
{
    if (event == nullptr) return false;
    event->addref();
    bool queued = enqueue(event, source);
    event->release();
    return queued;
}

void event_proc::worker(void*)
{
    while (thread_running() && vek_is_running()) m_queue.watch(k_worker_wait);
}

bool get_event_backlog(event_backlog* out)
{
    event_service svc;
    if (svc.impl() == nullptr) return false;
    *out = svc.impl()->backlog();
    return true;
}

}  // namespace vek
