// UDP connections: one received datagram each, answered through the
// socket service ("svc_socket"), which queues them as the event object of
// "VEK_EVT_UDP_PACKET_RECEIVED" with the local port as event id.
//
// Thread safety: udp_conn is safe for concurrent use (the guards of its
// stream classes); its connected flag is read by the stream-watch thread.
#ifndef VEK_STREAMS_UDP_CONN_H
#define VEK_STREAMS_UDP_CONN_H

#include <atomic>

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/string.h"
#include "vek/streams/stream.h"
#include "vek/streams/stream_impl.h"

struct sockaddr_in;

namespace vek {

class VEK_API i_udp_conn : public virtual i_inet_stream {
public:
    virtual unsigned short get_client_port() = 0;

protected:
    ~i_udp_conn() = default;
};

// One received datagram, already in the input buffer (it raises no
// data-available event of its own). Every unbuffered put_... sends one
// datagram back to the peer, from the service's socket for the local port
// when there is one, else from a short-lived socket bound to (any address,
// local port). Answers "i_inet_stream", "i_input_stream", "i_io_stream",
// "i_output_stream" and "i_udp_conn" besides what i_stream_impl answers.
class VEK_API udp_conn : public i_stream_impl,
                         public i_input_stream_impl,
                         public i_output_stream_impl,
                         public virtual i_udp_conn {
public:
    // `host`: the peer's dotted address; `port`: the peer's port (host
    // order); `addr`: `addr_len` bytes of the peer's address.
    udp_conn(const char* host, unsigned short port, unsigned int local_port, sockaddr_in* addr, int addr_len,
             const void* data, unsigned int data_size);
    ~udp_conn() override;

    const char* get_host() override;
    unsigned short get_port() override;
    unsigned short get_client_port() override;
    bool disconnect() override;
    bool is_connected() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

protected:
    int write_impl(const char* data, unsigned int size) override;

    string m_host;
    unsigned short m_local_port;
    unsigned short m_peer_port;
    alignas(4) unsigned char m_peer_addr[16];  // a sockaddr_in
    int m_peer_addr_len;
    std::atomic<bool> m_connected;  // read by the stream-watch thread
};

}  // namespace vek

// No reference added.
VEK_API vek::i_udp_conn* vek_cast_i_udp_conn(vek::i_object* obj);

#endif
