// The queue of events fired for later delivery and the threads that
// deliver them.
//
// Threads: events are taken from the front, in the order they were queued,
// by a set of delivery threads that wait on a condition variable while the
// queue is empty. Up to twice as many threads as cores are started as
// events arrive. Beyond that a thread is added only while events wait and
// every delivery thread has been inside one delivery for longer than a few
// milliseconds (a handler that blocks), up to the library's thread limit;
// such extra threads end after some seconds without work. Deliveries run
// concurrently and may finish in any order. No thread takes an event once
// the library stops running; those left are released by stop().
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

class delivery_queue {
public:
    // `deliver` runs in a delivery thread for each event taken, while the
    // library is running; the queue releases the event afterwards.
    typedef void (*deliver_function)(i_event* e);

    explicit delivery_queue(deliver_function deliver);
    delivery_queue(const delivery_queue&) = delete;
    delivery_queue& operator=(const delivery_queue&) = delete;
    ~delivery_queue();

    // Queues `e`, taking over one reference. May throw std::bad_alloc (the
    // reference then stays with the caller).
    void push(i_event* e);
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
