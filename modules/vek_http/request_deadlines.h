// The request timeout: a client has VEK_HTTP_REQUEST_TIMEOUT seconds to
// send a whole request (line, headers and body), counted from the
// connection's start or from the end of its previous answer. The engine's
// own timeout only closes a connection that is silent, so a client that
// sends a byte now and then would hold its connection for ever without
// this.
//
// One instance per daemon. opened() and closed() come from the engine's
// connection notifications, answering() and answered() from its request
// callbacks, sweep() from the worker's loop: all on the daemon's worker
// thread while it runs, and closed() also from the thread that stops the
// daemon after the worker has ended.
//
// Thread safety: safe for concurrent use (one lock, never held while
// calling out of this class).
#ifndef VEK_HTTP_REQUEST_DEADLINES_H
#define VEK_HTTP_REQUEST_DEADLINES_H

#include <microhttpd.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace vek {
namespace http {

class request_deadlines {
public:
    using clock = std::chrono::steady_clock;

    explicit request_deadlines(unsigned int seconds) : m_limit(std::chrono::seconds(seconds)) {}
    ~request_deadlines();

    void opened(MHD_Connection* connection, void** socket_context);
    void closed(void** socket_context);
    // The whole request is in and being answered: its clock stops.
    static void answering(MHD_Connection* connection);
    // The answer has gone out: the clock starts for the next request.
    static void answered(MHD_Connection* connection);
    // Shuts down the connections whose clock ran out; the engine then sees
    // them end and closes them. Does the work at most four times a second.
    void sweep();

private:
    struct entry;
    static entry* entry_of(MHD_Connection* connection);

    const clock::duration m_limit;
    clock::time_point m_last_sweep{};
    std::mutex m_lock;
    std::vector<entry*> m_entries;  // GUARDED_BY(m_lock); each entry knows its index
};

}  // namespace http
}  // namespace vek

#endif
