// udp_conn: one received datagram and the way back to its sender.
#include <cstdlib>
#include <cstring>

#include "net/socket_service.h"
#include "platform/socket.h"
#include "vek/core.h"
#include "vek/streams.h"

namespace vek {

udp_conn::udp_conn(const char* host, unsigned short port, unsigned int local_port, sockaddr_in* addr, int addr_len,
                   const void* data, unsigned int data_size)
    : m_local_port(static_cast<unsigned short>(local_port)),
      m_peer_port(port),
      m_peer_addr{},
      m_peer_addr_len(0),
      m_connected(true)
{
    m_host.set_value(host != nullptr ? host : "");
    if (addr != nullptr && addr_len > 0) {
        m_peer_addr_len = addr_len < platform::k_sockaddr_in_size ? addr_len : platform::k_sockaddr_in_size;
        std::memcpy(m_peer_addr, addr, static_cast<size_t>(m_peer_addr_len));
    }
    if (data != nullptr && data_size != 0) {
        m_in_block = static_cast<char*>(std::malloc(data_size));
        if (m_in_block != nullptr) {
            std::memcpy(m_in_block, data, data_size);
            m_in_capacity = static_cast<int>(data_size);
            m_in_data_size = static_cast<int>(data_size);
            m_in_read_pos = m_in_block;
        }
    }
}

udp_conn::~udp_conn() = default;

const char* udp_conn::get_host()
{
    return m_host.get_value();
}

unsigned short udp_conn::get_port()
{
    return m_local_port;
}

unsigned short udp_conn::get_client_port()
{
    return m_peer_port;
}

bool udp_conn::disconnect()
{
    m_connected = false;
    return true;
}

bool udp_conn::is_connected()
{
    return m_connected;
}

bool udp_conn::get_interface(const char* iface_name, void** pp_obj)
{
    if (std::strcmp(iface_name, "i_inet_stream") == 0) {
        *pp_obj = static_cast<i_inet_stream*>(this);
    } else if (std::strcmp(iface_name, "i_input_stream") == 0) {
        *pp_obj = static_cast<i_input_stream*>(this);
    } else if (std::strcmp(iface_name, "i_io_stream") == 0) {
        *pp_obj = static_cast<i_io_stream*>(this);
    } else if (std::strcmp(iface_name, "i_output_stream") == 0) {
        *pp_obj = static_cast<i_output_stream*>(this);
    } else if (std::strcmp(iface_name, "i_udp_conn") == 0) {
        *pp_obj = static_cast<i_udp_conn*>(this);
    } else {
        return i_stream_impl::get_interface(iface_name, pp_obj);
    }
    return true;
}

int udp_conn::write_impl(const char* data, unsigned int size)
{
    if (!m_connected) return -1;
    if (m_peer_addr_len != 0) {
        i_core* c = vek_core();
        i_object* svc = c != nullptr ? c->get_service("svc_socket") : nullptr;
        i_socket_service* sockets = vek_cast_i_socket_service(svc);
        long n = -2;
        // The library's own service sends under its table guard, so the
        // socket cannot be closed and its number reused in between.
        if (auto* own = dynamic_cast<socket_service*>(sockets)) {
            n = own->send_from_port(m_local_port, data, size, m_peer_addr, m_peer_addr_len);
        } else if (sockets != nullptr) {
            int s = sockets->get_port_socket(m_local_port);
            if (s >= 0) n = platform::socket_sendto(s, data, size, m_peer_addr, m_peer_addr_len);
        }
        vek_release(svc);
        if (n != -2) return static_cast<int>(n);
    }
    // No service socket for the port: answer from a short-lived one bound to
    // the same local port, so the peer still sees the port it wrote to.
    int s = platform::socket_create(false);
    if (s < 0) return -1;
    if (m_local_port != 0) {
        platform::socket_set_reuseaddr(s);
        platform::socket_bind(s, 0, m_local_port);
    }
    long n = platform::socket_sendto(s, data, size, m_peer_addr, m_peer_addr_len);
    platform::socket_close(s);
    return static_cast<int>(n);
}

}  // namespace vek
