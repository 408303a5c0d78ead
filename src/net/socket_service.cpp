// The socket service: listening TCP and UDP sockets and their thread.
#include "net/socket_service.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/status_tree.h"
#include "events/event_proc.h"
#include "object/thread_count.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "vek/core.h"
#include "vek/events.h"
#include "vek/object/cast.h"

namespace vek {
namespace {

const unsigned int k_recv_buffer = 65536;  // an IPv4 datagram holds at most 65507 bytes
const int k_recv_batch = 16;               // datagrams per system call
const int k_udp_batch = 1024;              // datagrams per entry and pass
const int k_idle_wait_ms = 50;
const char* const k_tcp_event = "VEK_EVT_TCP_CONN_OPENED";
const char* const k_udp_event = "VEK_EVT_UDP_PACKET_RECEIVED";

const char* any_host(const char* host)
{
    return host[0] == '\0' ? "*" : host;
}

// A connection or datagram that cannot become an event is dropped; the
// trace names the cause, at most once a second for all ports.
void trace_lost(bool tcp, unsigned short port, const char* cause)
{
    static std::atomic<unsigned int> last_traced{0};
    const unsigned int now = platform::now_seconds();
    unsigned int last = last_traced.load(std::memory_order_relaxed);
    if (last == now || !last_traced.compare_exchange_strong(last, now)) return;
    vek_trace("socket_service: %s on %s port %u dropped: %s", tcp ? "connection" : "datagram", tcp ? "TCP" : "UDP",
              port, cause);
}

}  // namespace

tcp_conn_event_object::tcp_conn_event_object(int s, const char* peer, const char* host) : named_string(peer, host)
{
    m_id = static_cast<long long>(static_cast<unsigned int>(s));
}

tcp_conn_event_object::~tcp_conn_event_object()
{
    if (!m_handed_out) platform::socket_close(static_cast<int>(m_id));
}

long long tcp_conn_event_object::get_id()
{
    m_handed_out = true;
    return m_id;
}

bool tcp_conn_event_object::get_interface(const char* iface_name, void** pp_obj)
{
    if (std::strcmp(iface_name, "i_typed_object") == 0) {
        *pp_obj = static_cast<i_typed_object*>(this);
        return true;
    }
    return named_string::get_interface(iface_name, pp_obj);
}

socket_service::socket_service() : m_wake_fd(platform::wake_fd_create())
{
    create_thread(this, static_cast<thread_function>(&socket_service::thread_loop), nullptr);
    vek_install_handler(k_tcp_event, 0, this, static_cast<vek_event_function>(&socket_service::on_default));
}

socket_service::~socket_service()
{
    platform::wake_fd_signal(m_wake_fd);
    stop_threads(30);
    {
        mutex_locker guard(&m_guard);
        for (auto& item : m_sockets) platform::socket_close(item.first);
    }
    vek_uninstall_handler(k_tcp_event, 0, this, static_cast<vek_event_function>(&socket_service::on_default));
    m_sockets.clear();
    m_ports.clear();
    platform::wake_fd_close(m_wake_fd);
}

bool socket_service::listen_tcp(const char* host, unsigned short port, unsigned int backlog)
{
    return backlog != 0 && open(host, port, true, backlog);
}

bool socket_service::close_tcp(const char* host, unsigned short port)
{
    return close(host, port, true);
}

bool socket_service::open_udp(const char* host, unsigned short port)
{
    return open(host, port, false, 0);
}

bool socket_service::close_udp(const char* host, unsigned short port)
{
    return close(host, port, false);
}

int socket_service::get_port_socket(unsigned short port)
{
    mutex_locker guard(&m_guard);
    auto it = m_ports.find(port);
    return it != m_ports.end() ? it->second : -1;
}

bool socket_service::get_interface(const char* iface_name, void** pp_obj)
{
    if (std::strcmp(iface_name, "i_socket_service") == 0) {
        *pp_obj = static_cast<i_socket_service*>(this);
        return true;
    }
    if (std::strcmp(iface_name, "i_status_source") == 0) {
        *pp_obj = static_cast<i_status_source*>(this);
        return true;
    }
    return object::get_interface(iface_name, pp_obj);
}

long socket_service::send_from_port(unsigned short port, const void* data, unsigned int size, const void* to,
                                    int to_len)
{
    mutex_locker guard(&m_guard);
    auto it = m_ports.find(port);
    if (it == m_ports.end()) return -2;
    return platform::socket_sendto(it->second, data, size, to, to_len);
}

bool socket_service::open(const char* host, unsigned short port, bool tcp, unsigned int backlog)
{
    if (host == nullptr || port == 0) return false;
    host = any_host(host);
    mutex_locker guard(&m_guard);
    for (auto& item : m_sockets) {
        const entry& e = item.second;
        if (e.port == port && e.tcp == tcp && e.host == host) return false;
    }
    int s = platform::socket_create(tcp);
    if (s < 0) {
        vek_log(0, "socket_service: Error creating socket");
        return false;
    }
    if (!platform::socket_set_nonblocking(s)) {
        vek_trace("socket_service: Error setting socket options.");
        platform::socket_close(s);
        return false;
    }
    platform::socket_set_reuseaddr(s);
    unsigned int addr = 0;
    if (std::strcmp(host, "*") != 0 && platform::resolve_ipv4(host, &addr, 1) == 0) {
        vek_log(0, "socket_service: Error resolving address '%s'.", host);
        platform::socket_close(s);
        return false;
    }
    if (!platform::socket_bind(s, addr, port)) {
        vek_log(0, "socket_service: Error binding socket to address [%s] : [%d].", host, port);
        platform::socket_close(s);
        return false;
    }
    if (tcp && !platform::socket_listen(s, backlog)) {
        vek_log(0, "socket_service: Error listening socket");
        platform::socket_close(s);
        return false;
    }
    m_sockets[s] = entry{port, s, tcp, host};
    m_ports[port] = s;
    platform::wake_fd_signal(m_wake_fd);
    return true;
}

bool socket_service::close(const char* host, unsigned short port, bool tcp)
{
    if (host == nullptr) return false;
    host = any_host(host);
    mutex_locker guard(&m_guard);
    for (auto& item : m_sockets) {
        const entry& e = item.second;
        if (e.port == port && e.tcp == tcp && e.host == host) {
            forget(item.first, tcp);
            return true;
        }
    }
    return false;
}

void socket_service::forget(int s, bool tcp)
{
    auto it = m_sockets.find(s);
    if (it == m_sockets.end()) return;
    unsigned short port = it->second.port;
    platform::socket_close(s);
    auto rec = m_ports.find(port);
    // The kernel hands the number out again at once, so a record naming the
    // closed socket must not outlive it.
    if (rec != m_ports.end() && (!tcp || rec->second == s)) m_ports.erase(rec);
    m_sockets.erase(it);
    platform::wake_fd_signal(m_wake_fd);
}

void socket_service::add_status(i_xml_node* status)
{
    auto_ptr_t<i_object> svc = vek_core()->get_service("svc_xml");
    i_xml_proc* xml = vek_cast_i_xml_proc(svc);
    if (xml == nullptr) return;
    std::vector<entry> open;
    unsigned long long empty = 0;
    {
        mutex_locker guard(&m_guard);
        for (const auto& s : m_sockets) open.push_back(s.second);
        empty = m_empty_total;
    }
    status_tree tree(xml);
    auto_ptr_t<i_xml_node> sockets = tree.add(status, "sockets");
    status_tree::set(sockets, "empty_datagrams", empty);
    for (const entry& e : open) {
        auto_ptr_t<i_xml_node> node = tree.add(sockets, "socket");
        status_tree::set(node, "kind", std::string(e.tcp ? "tcp" : "udp"));
        status_tree::set(node, "host", e.host);
        status_tree::set(node, "port", static_cast<unsigned long long>(e.port));
    }
}

void socket_service::thread_loop(void*)
{
    thread_set_role("socket");
    char* buffer = nullptr;
    bool was_ready = false;
    while (thread_running() && vek_is_running()) {
        if (pass(buffer)) {
            was_ready = false;
            continue;
        }
        // Readiness that yields nothing (accept failing with EMFILE) must
        // not turn the wait into a spin.
        if (was_ready) platform::sleep_ms(5);
        std::vector<int> fds;
        {
            mutex_locker guard(&m_guard);
            fds.reserve(m_sockets.size());
            for (auto& item : m_sockets) fds.push_back(item.first);
        }
        was_ready = platform::wait_readable(m_wake_fd, fds.data(), static_cast<int>(fds.size()), k_idle_wait_ms);
    }
    std::free(buffer);
}

bool socket_service::pass(char*& buffer)
{
    event_service events;  // held for the pass
    mutex_locker guard(&m_guard);
    bool active = false;
    // Walk by key: a UDP entry may close itself during the walk.
    for (auto it = m_sockets.begin(); it != m_sockets.end();) {
        entry e = it->second;
        if (e.tcp) {
            active = accept_one(events, e) || active;
        } else {
            if (buffer == nullptr) buffer = static_cast<char*>(std::malloc(k_recv_buffer * k_recv_batch));
            if (buffer != nullptr) active = drain_udp(events, e, buffer) || active;
        }
        it = m_sockets.upper_bound(e.socket);
    }
    return active;
}

bool socket_service::accept_one(event_service& events, const entry& e)
{
    char peer[64];
    int s = platform::socket_accept(e.socket, peer, sizeof(peer));
    if (s < 0) return false;
    if (peer[0] == '\0') {
        platform::socket_close(s);
        vek_trace("socket_service: invalid hostname");
        return true;
    }
    auto* obj = new (std::nothrow) tcp_conn_event_object(s, peer, e.host.c_str());
    if (obj == nullptr) {
        platform::socket_close(s);
        return true;
    }
    obj->addref();
    queue_event(events, true, e.port, static_cast<i_named_string*>(obj));
    obj->release();
    return true;
}

bool socket_service::drain_udp(event_service& events, const entry& e, char* buffer)
{
    alignas(4) unsigned char from[k_recv_batch][platform::k_sockaddr_in_size];
    platform::datagram batch[k_recv_batch];
    for (int i = 0; i < k_recv_batch; ++i) {
        batch[i] = platform::datagram{buffer + i * k_recv_buffer, k_recv_buffer,
                                      reinterpret_cast<sockaddr_in*>(from[i]), 0, 0};
    }
    int taken = 0;
    while (taken < k_udp_batch) {
        std::memset(from, 0, sizeof from);
        int n = platform::socket_recv_batch(e.socket, batch, k_recv_batch);
        if (n < 0) {
            if (vek_net_error()) close_udp(e.host.c_str(), e.port);
            return taken != 0;
        }
        for (int i = 0; i < n; ++i) announce_datagram(events, e, batch[i]);
        taken += n;
    }
    return true;
}

void socket_service::announce_datagram(event_service& events, const entry& e, const platform::datagram& d)
{
    if (d.length == 0) {
        // An empty datagram is a datagram, not the end of a stream.
        count_empty_datagram(e.port);
        return;
    }
    char peer[64] = "";
    platform::addr_text(d.from, peer, sizeof(peer));
    auto* conn = new (std::nothrow) udp_conn(peer, platform::addr_port(d.from), e.port, d.from, d.from_len, d.buf,
                                             static_cast<unsigned int>(d.length));
    if (conn == nullptr) return;
    conn->addref();
    queue_event(events, false, e.port, static_cast<i_udp_conn*>(conn));
    conn->release();
}

void socket_service::queue_event(event_service& events, bool tcp, unsigned short port, i_object* obj)
{
    event_proc* proc = events.impl();
    if (proc == nullptr) {
        trace_lost(tcp, port, "no event service");
        return;
    }
    unsigned int& type = tcp ? m_tcp_type : m_udp_type;
    if (type == 0) type = proc->get_event_type(tcp ? k_tcp_event : k_udp_event);
    auto* ev = new (std::nothrow) event(type, port, obj);
    if (ev == nullptr) {
        trace_lost(tcp, port, "out of memory");
        return;
    }
    ev->addref();
    // A refused event is released here, with its connection (an accepted
    // socket nobody took closes with it).
    proc->fire_from(ev, tcp ? tcp_source(port) : udp_source(port));
    ev->release();
}

void socket_service::count_empty_datagram(unsigned short port)
{
    ++m_empty_total;
    ++m_empty_untraced;
    unsigned int now = platform::now_seconds();
    if (now == m_empty_traced_at) return;
    m_empty_traced_at = now;
    vek_trace("socket_service: dropped %llu empty datagram(s) on port %u (%llu in all)", m_empty_untraced,
              static_cast<unsigned int>(port), m_empty_total);
    m_empty_untraced = 0;
}

bool socket_service::on_default(i_event* ev)
{
    if (ev == nullptr) return true;
    i_object* obj = ev->get_event_object();
    i_typed_object* typed = vek_cast_i_typed_object(obj);
    if (typed != nullptr) platform::socket_close(static_cast<int>(typed->get_id()));
    vek_release(obj);
    return false;
}

}  // namespace vek
