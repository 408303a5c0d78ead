// The socket service ("svc_socket") and the event object of an accepted
// connection.
//
// One thread (started by the constructor) makes passes over the socket
// table in ascending handle order: one accept per TCP entry, up to 1024
// datagrams per UDP entry (read up to 16 per system call), each queued as
// an event with the entry's port as id. An empty datagram is dropped and
// counted (traced at most once a second); it never closes the port. Each
// port's events are bounded in the event processor's queue: past the bound
// the newest is dropped there. A pass that found something is followed at
// once by the next; otherwise the thread waits (at most 50 ms) until one of
// the table's sockets or the wake-up descriptor is readable. open, close
// and the destructor write the wake-up descriptor, so the thread sees a
// changed table at once.
//
// Lock: the table guard protects both tables; the thread holds it for a
// whole pass (accept, recvfrom, event creation and queueing, which never
// delivers). Handlers run later on event threads, never under it. Lock
// order: a stream's output guard before the table guard (udp_conn answers
// through send_from_port while its output guard is held).
#ifndef VEK_NET_SOCKET_SERVICE_H
#define VEK_NET_SOCKET_SERVICE_H

#include <atomic>
#include <map>
#include <string>

#include "platform/socket.h"
#include "vek/object/string.h"
#include "vek/object/sync.h"
#include "vek/status.h"
#include "vek/streams.h"

namespace vek {

class event_service;

// name: the peer's dotted address; value: the listening entry's host; id:
// the accepted socket. Answers "i_typed_object" besides what named_string
// answers. A handler takes the socket over through get_id(); when nobody
// ever read it (the event was dropped at shut-down), the destructor closes
// the socket.
class tcp_conn_event_object : public named_string, public virtual i_typed_object_impl {
public:
    tcp_conn_event_object(int s, const char* peer, const char* host);
    ~tcp_conn_event_object() override;
    long long get_id() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

private:
    std::atomic<bool> m_handed_out{false};
};

class socket_service : public object,
                       public thread_creator,
                       public virtual i_socket_service,
                       public virtual i_status_source {
public:
    socket_service();
    ~socket_service() override;

    bool listen_tcp(const char* host, unsigned short port, unsigned int backlog) override;
    bool close_tcp(const char* host, unsigned short port) override;
    bool open_udp(const char* host, unsigned short port) override;
    bool close_udp(const char* host, unsigned short port) override;
    int get_port_socket(unsigned short port) override;
    bool get_interface(const char* iface_name, void** pp_obj) override;
    // <sockets>: each listening TCP and bound UDP socket, and the empty
    // datagrams dropped so far.
    void add_status(i_xml_node* status) override;

    // Sends one datagram from the socket recorded for `port`, under the
    // table guard so the socket cannot be closed (and its number reused)
    // meanwhile. -2 when no socket is recorded; else what sendto returned.
    long send_from_port(unsigned short port, const void* data, unsigned int size, const void* to, int to_len);

private:
    struct entry {
        unsigned short port;
        int socket;
        bool tcp;
        std::string host;
    };

    bool open(const char* host, unsigned short port, bool tcp, unsigned int backlog);
    bool close(const char* host, unsigned short port, bool tcp);
    // Closes and forgets `s`.
    void forget(int s, bool tcp) VEK_REQUIRES(m_guard);
    void thread_loop(void*);
    // One pass; true when it accepted or received anything.
    bool pass(char*& buffer);
    bool accept_one(event_service& events, const entry& e) VEK_REQUIRES(m_guard);
    bool drain_udp(event_service& events, const entry& e, char* buffer) VEK_REQUIRES(m_guard);
    void announce_datagram(event_service& events, const entry& e, const platform::datagram& d) VEK_REQUIRES(m_guard);
    // Queues the connection event (`tcp`) or the datagram event for `port`
    // with `obj`, bounded by the port's backlog.
    void queue_event(event_service& events, bool tcp, unsigned short port, i_object* obj);
    // Counts a dropped empty datagram; traces the count at most once a
    // second.
    void count_empty_datagram(unsigned short port) VEK_REQUIRES(m_guard);
    void wait_for_work();
    bool on_default(i_event* ev);

    std::map<int, entry> m_sockets VEK_GUARDED_BY(m_guard);
    mutex m_guard;
    std::map<unsigned short, int> m_ports VEK_GUARDED_BY(m_guard);
    int m_wake_fd;
    unsigned long long m_empty_total VEK_GUARDED_BY(m_guard) = 0;
    unsigned long long m_empty_untraced VEK_GUARDED_BY(m_guard) = 0;
    unsigned int m_empty_traced_at VEK_GUARDED_BY(m_guard) = 0;
    // Event type numbers, looked up once. Used by the service thread only.
    unsigned int m_tcp_type = 0;
    unsigned int m_udp_type = 0;
};

}  // namespace vek

#endif
