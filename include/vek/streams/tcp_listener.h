// TCP server endpoints: a listener has the socket service listen on its
// port and takes over the connections accepted there.
//
// Thread safety: tcp_listener: one thread at a time for init/stop (its
// owner); its handler runs on event threads and reads fields init wrote
// earlier.
#ifndef VEK_STREAMS_TCP_LISTENER_H
#define VEK_STREAMS_TCP_LISTENER_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/string.h"

namespace vek {

class VEK_API i_tcp_listener : public virtual i_object {
public:
    virtual bool check_addr(const char* host, unsigned short port) = 0;

protected:
    ~i_tcp_listener() = default;
};

// A TCP server endpoint: init() has the socket service listen and installs
// a handler for the port's connection event. The handler runs on the event
// processor's pool threads and hands each accepted (non-blocking) socket to
// on_connection, which takes it over or returns false to have it closed.
// Answers "i_tcp_listener".
class VEK_API tcp_listener : public object, public virtual i_tcp_listener {
public:
    tcp_listener();
    // Calls stop().
    ~tcp_listener() override;

    bool check_addr(const char* host, unsigned short port) override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

    virtual bool init(const char* host, unsigned short port);
    virtual bool stop();
    // `s`: the accepted socket; `host`: the peer's dotted address (valid
    // during the call).
    virtual bool on_connection(unsigned int s, const char* host) = 0;

protected:
    // The backlog init asks for: 4096.
    virtual unsigned int get_listen_count();

private:
    bool on_tcp_conn(i_event* ev);

    unsigned short m_port;
    string m_host;
};

}  // namespace vek

// No reference added.
VEK_API vek::i_tcp_listener* vek_cast_i_tcp_listener(vek::i_object* obj);

#endif
