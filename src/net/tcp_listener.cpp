// tcp_listener: a TCP server endpoint served by the socket service.
#include <cstring>

#include "platform/socket.h"
#include "vek/core.h"
#include "vek/events.h"
#include "vek/object/cast.h"
#include "vek/streams.h"

namespace vek {
namespace {

const char* const k_tcp_event = "VEK_EVT_TCP_CONN_OPENED";

// New reference: caller releases (through the returned i_object); null
// when the service is missing.
i_socket_service* get_socket_service(i_object** holder)
{
    i_core* c = vek_core();
    *holder = c != nullptr ? c->get_service("svc_socket") : nullptr;
    i_socket_service* svc = vek_cast_i_socket_service(*holder);
    if (svc == nullptr) {
        vek_release(*holder);
        *holder = nullptr;
    }
    return svc;
}

}  // namespace

tcp_listener::tcp_listener() : m_port(0) {}

tcp_listener::~tcp_listener()
{
    stop();
}

bool tcp_listener::get_interface(const char* iface_name, void** pp_obj)
{
    if (std::strcmp(iface_name, "i_tcp_listener") == 0) {
        *pp_obj = static_cast<i_tcp_listener*>(this);
        return true;
    }
    return object::get_interface(iface_name, pp_obj);
}

bool tcp_listener::init(const char* host, unsigned short port)
{
    if (host == nullptr || port == 0) return false;
    m_host.set_value(host[0] == '\0' ? "*" : host);
    m_port = port;
    vek_install_handler(k_tcp_event, port, this, static_cast<vek_event_function>(&tcp_listener::on_tcp_conn));
    i_object* holder = nullptr;
    i_socket_service* svc = get_socket_service(&holder);
    if (svc == nullptr) return false;
    bool ok = svc->listen_tcp(host, port, get_listen_count());
    holder->release();
    return ok;
}

bool tcp_listener::stop()
{
    if (m_port == 0) return true;
    vek_uninstall_handler(k_tcp_event, m_port, this, static_cast<vek_event_function>(&tcp_listener::on_tcp_conn));
    i_object* holder = nullptr;
    i_socket_service* svc = get_socket_service(&holder);
    if (svc != nullptr) {
        svc->close_tcp(m_host.get_value(), m_port);
        holder->release();
    }
    m_port = 0;
    m_host.set_value("");
    return true;
}

bool tcp_listener::check_addr(const char* host, unsigned short port)
{
    if (port != m_port || host == nullptr) return false;
    const char* mine = m_host.get_value();
    return std::strcmp(host, mine) == 0 || (std::strcmp(mine, "*") == 0 && host[0] == '\0');
}

unsigned int tcp_listener::get_listen_count()
{
    return 4096;
}

bool tcp_listener::on_tcp_conn(i_event* ev)
{
    if (ev == nullptr) return true;
    i_object* obj = ev->get_event_object();
    i_typed_object* typed = vek_cast_i_typed_object(obj);
    i_named_object* named = vek_cast_i_named_object(obj);
    if (typed == nullptr || named == nullptr) {
        vek_release(obj);
        return true;
    }
    auto s = static_cast<unsigned int>(typed->get_id());
    if (!on_connection(s, named->get_name())) platform::socket_close(static_cast<int>(s));
    obj->release();
    return false;
}

}  // namespace vek
