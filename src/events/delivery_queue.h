// The queue of events fired for later delivery and the threads that
// deliver them.
//
// Threads: events are taken from the front, in the order they were queued,
// by a set of delivery threads that wait on a condition variable while the
// queue is empty. Up to twice as many threads as cores are started as
// events arrive. Beyond that a thread is added only while events wait and
// every delivery thread has been inside one delivery for longer than a few
// milliseconds and none of them is on or waiting for a CPU (handlers that
// block, not handlers that compute or threads the machine is too busy to
// run), up to the library's thread limit;
// such extra threads end after some seconds without work. Deliveries run
// concurrently and may finish in any order. No thread takes an event once
// the library stops running; those left are released by stop().
//
// Bounds: events from the network (datagrams, accepted connections) carry
// their source. Past the bound for one source, or for all of them together,
// the newest event is refused; events without a source are never refused.
//
// Lock: one mutex guards the queue and the thread bookkeeping; it is never
// held while an event is delivered or released.
#ifndef VEK_EVENTS_DELIVERY_QUEUE_H
#define VEK_EVENTS_DELIVERY_QUEUE_H

#include <chrono>
#include <memory>

#include "vek/events.h"

namespace vek {

// A picture of the queue at one moment, for status displays.
struct event_backlog {
    unsigned long long queued = 0;     // events waiting
    unsigned long long oldest_us = 0;  // how long the oldest has waited; 0 when none waits
    unsigned int busy = 0;             // delivery threads inside a delivery
    unsigned int idle = 0;             // delivery threads waiting for events
    unsigned long long dropped = 0;    // events refused by the backlog bounds so far
};

// The sources whose events are bounded: a bound UDP port, a listening TCP
// port.
inline unsigned int udp_source(unsigned short port)
{
    return 0x10000u | port;
}
inline unsigned int tcp_source(unsigned short port)
{
    return 0x20000u | port;
}

class delivery_queue {
public:
    // `deliver` runs in a delivery thread for each event taken, while the
    // library is running; the queue releases the event afterwards.
    typedef void (*deliver_function)(i_event* e);

    explicit delivery_queue(deliver_function deliver);
    delivery_queue(const delivery_queue&) = delete;
    delivery_queue& operator=(const delivery_queue&) = delete;
    ~delivery_queue();

    // Sets the backlog bounds: events one source may have waiting, and
    // events all sources together may have waiting.
    void set_limits(unsigned int per_source, unsigned int all_sources);
    // Queues `e`, taking over one reference. `source` names where the event
    // comes from (udp_source, tcp_source) or is 0 for events that are never
    // refused. False when the source, or all sources together, already have
    // as many events waiting as the bounds allow: the newest is refused and
    // counted, at most one trace line a second says so, and the reference
    // stays with the caller. May throw std::bad_alloc (the reference then
    // stays with the caller too).
    bool push(i_event* e, unsigned int source = 0);
    // Waits up to `wait` and adds a delivery thread when the queue stalls:
    // events wait and every thread has been busy past the threshold. Run in
    // a loop by the event processor's own thread.
    void watch(std::chrono::milliseconds wait);
    // Ends the delivery threads, waiting up to `seconds` for them (not for
    // the calling thread, when it is one), then releases the events left.
    void stop(unsigned int seconds);
    event_backlog backlog();

    struct shared;

private:
    std::shared_ptr<shared> m_shared;
};

}  // namespace vek

#endif
