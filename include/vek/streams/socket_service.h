// The socket service ("svc_socket"): owns the listening TCP sockets and
// the UDP sockets.
//
// Its own thread accepts connections and receives datagrams and queues
// "VEK_EVT_TCP_CONN_OPENED" (event object: i_typed_object whose id is the
// accepted socket, i_named_object whose name is the peer's dotted address)
// and "VEK_EVT_UDP_PACKET_RECEIVED" (event object: an i_udp_conn holding
// the datagram), both with the local port as event id. Handlers install
// themselves for the port they serve; a connection that no listener takes
// is closed by the service's own handler.
//
// Thread safety: i_socket_service is safe for concurrent use.
#ifndef VEK_STREAMS_SOCKET_SERVICE_H
#define VEK_STREAMS_SOCKET_SERVICE_H

#include "vek/export.h"
#include "vek/object/base.h"

namespace vek {

class VEK_API i_socket_service : public virtual i_object {
public:
    // False when `backlog` is 0. "" and "*" mean any local address.
    virtual bool listen_tcp(const char* host, unsigned short port, unsigned int backlog) = 0;
    virtual bool close_tcp(const char* host, unsigned short port) = 0;
    virtual bool open_udp(const char* host, unsigned short port) = 0;
    virtual bool close_udp(const char* host, unsigned short port) = 0;
    // The socket last opened for `port`; -1 when none.
    virtual int get_port_socket(unsigned short port) = 0;

protected:
    ~i_socket_service() = default;
};

}  // namespace vek

// No reference added.
VEK_API vek::i_socket_service* vek_cast_i_socket_service(vek::i_object* obj);

#endif
