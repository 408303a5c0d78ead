// Buffered streams and sockets.
//
// A stream is a reference-counted connection object assembled from three
// implementation classes: i_stream_impl (identity, start time, an advisory
// time-limited lock, registration with the core), i_input_stream_impl (an
// input buffer filled from the transport in the background, with a
// data-available event) and i_output_stream_impl (an optional output buffer
// flushed to the transport in the background). The transport is reached
// only through the protected hooks of stream_base, which a concrete
// connection class overrides; udp_conn is the library's own example, and
// modules derive their TCP connection classes the same way (with
// vek_net_send/vek_net_recv on a socket from vek_net_tcp_open or from
// tcp_listener::on_connection), then call start_io().
//
// Which thread runs what: a registered stream gets bg_task() about every
// 100 ms from the core's stream-watch thread; bg_task reads the transport
// (read_impl) into the input buffer, then flushes the output buffer
// (write_impl) once its timeout has run out. Consumers call the buffer
// operations from any thread, usually an event handler's. The
// data-available event "VEK_EVT_STREAM_DATA_AVAIBLE" (spelled so) is
// queued, with the stream's id as event id and the stream as event object,
// in the first background pass at least the in-buffer timeout after the
// first data it has not yet announced.
//
// A stream that reports itself disconnected (is_connected() false) is
// dropped by the watch thread at its next pass and announces nothing more.
// So a connection class whose transport has ended should keep reporting
// itself connected until the data already buffered has been announced
// (its first-unnotified time is back to 0), or handlers never see it.
//
// The socket service ("svc_socket") owns the listening TCP sockets and the
// UDP sockets. Its own thread accepts connections and receives datagrams
// and queues "VEK_EVT_TCP_CONN_OPENED" (event object: i_typed_object whose
// id is the accepted socket, i_named_object whose name is the peer's dotted
// address) and "VEK_EVT_UDP_PACKET_RECEIVED" (event object: an i_udp_conn
// holding the datagram), both with the local port as event id. Handlers
// install themselves for the port they serve; a connection that no
// listener takes is closed by the service's own handler.
//
// Thread safety:
// - i_stream_impl, i_input_stream_impl, i_output_stream_impl, udp_conn:
//   safe for concurrent use (three guards per stream: the lock guard, the
//   input guard and the output guard, never nested in each other; each
//   buffer operation holds its guard across the transport call).
// - stream_base: the hooks are called under the buffer guards.
// - tcp_listener: one thread at a time for init/stop (its owner); its
//   handler runs on event threads and reads fields init wrote earlier.
// - the network functions: safe for concurrent use on different sockets;
//   one socket must not be sent to or received from by two threads at once.
#ifndef VEK_STREAMS_H
#define VEK_STREAMS_H

#include <atomic>

#include "vek/object/base.h"
#include "vek/object/string.h"
#include "vek/object/sync.h"
#include "vek/streams/bin_parser.h"

struct sockaddr_in;

namespace vek {

class i_binary;

class VEK_API i_stream : public virtual i_typed_object {
public:
    virtual bool disconnect() = 0;
    virtual bool is_connected() = 0;
    // Takes the advisory lock for at most `to` seconds; another thread
    // takes it over once that time has run out.
    virtual bool lock(unsigned int to) = 0;
    virtual void unlock() = 0;
    // One background turn; false when the stream is finished.
    virtual bool bg_task() = 0;
    // vek_get_curr_time() at construction.
    virtual unsigned int get_start_time() = 0;

protected:
    ~i_stream() = default;
};

class VEK_API i_input_stream : public virtual i_stream {
public:
    virtual unsigned int get_last_comm_time() = 0;
    // Unread bytes.
    virtual unsigned int get_in_buffer_size() = 0;
    // Heap text: caller frees with free(). The unread data up to and
    // including `delim` (all of it for ""); null for a null `delim`, an
    // empty buffer or a delimiter not found. `rem` false peeks.
    virtual char* get_text(const char* delim, bool rem) = 0;
    // 0 when nothing is buffered.
    virtual unsigned char get_byte(bool rem) = 0;
    // New reference: caller releases. Up to `max_size` unread bytes (all
    // for 0); an empty binary when nothing is buffered; null when out of
    // memory.
    virtual i_binary* get_binary(unsigned int max_size, bool rem) = 0;
    // Seconds between the first unannounced data and its event; 0 at the
    // next pass, -1 never.
    virtual bool set_in_buffer_timeout(int timeout) = 0;
    virtual bool remove_in_buffer_data(unsigned int data_size) = 0;

protected:
    ~i_input_stream() = default;
};

class VEK_API i_output_stream : public virtual i_stream {
public:
    virtual bool put_text(const char* data) = 0;
    virtual bool put_byte(unsigned char data) = 0;
    virtual bool put_binary(const void* data, unsigned int data_size) = 0;
    // 0 writes every call through at once; otherwise writes are buffered
    // and flushed in the first background pass `timeout` seconds after the
    // oldest of them.
    virtual bool set_out_buffer_timeout(unsigned int timeout) = 0;
    virtual void flush_out_buffer() = 0;

protected:
    ~i_output_stream() = default;
};

class VEK_API i_io_stream : public virtual i_input_stream, public virtual i_output_stream {
protected:
    ~i_io_stream() = default;
};

// The transport hooks a connection class overrides.
class VEK_API stream_base {
public:
    virtual ~stream_base();

protected:
    // Bytes read into `buf` (at most `size`); 0 when nothing is available.
    virtual unsigned int read_impl(char* buf, unsigned int size);
    // Bytes written; negative on error.
    virtual int write_impl(const char* data, unsigned int size);
    virtual void do_bg_reading();
    virtual void do_bg_writeing();
};

// Answers "i_stream" and "i_typed_object". The id comes from
// vek_get_next_id() at construction.
class VEK_API i_stream_impl : public object,
                              public i_typed_object_impl,
                              public virtual i_stream,
                              public virtual stream_base {
public:
    i_stream_impl();
    ~i_stream_impl() override;

    bool lock(unsigned int to) override;
    void unlock() override;
    // Background reading then writing while active; always true (a stream
    // leaves the registry through is_connected).
    bool bg_task() override;
    unsigned int get_start_time() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

protected:
    // Registers the stream with the core's stream-watch thread.
    virtual void start_io();

    mutex m_lock_guard;  // owner, expiry and count only
    unsigned int m_lock_owner;
    unsigned int m_lock_expiry;
    unsigned int m_lock_count;
    bool m_active;
    unsigned int m_start_time;
};

// The input half. Reading stops while more than 4 MiB are buffered and
// resumes once consumers have taken data.
class VEK_API i_input_stream_impl : public virtual i_input_stream, public virtual stream_base {
public:
    i_input_stream_impl();
    ~i_input_stream_impl() override;

    unsigned int get_last_comm_time() override;
    unsigned int get_in_buffer_size() override;
    char* get_text(const char* delim, bool rem) override;
    unsigned char get_byte(bool rem) override;
    i_binary* get_binary(unsigned int max_size, bool rem) override;
    bool set_in_buffer_timeout(int timeout) override;
    bool remove_in_buffer_data(unsigned int data_size) override;

protected:
    virtual void fire_new_data_event();
    // Copies min(size, unread) bytes to `dst` (skipped when null) and
    // drops them when `remove`. False when no block was ever allocated.
    virtual bool read_in_buf(void* dst, unsigned int size, bool remove);
    void do_bg_reading() override;

    char* m_in_block;
    int m_in_capacity;
    char* m_in_read_pos;
    int m_in_data_size;
    int m_in_timeout;
    mutex m_in_guard;  // the block and its positions; held across read_impl
    unsigned int m_first_unnotified;
    unsigned int m_last_comm_time;
};

// The output half: unbuffered (timeout 0) writes go straight to write_impl
// and succeed only when every byte was written; buffered writes wait for a
// flush, and a failing flush keeps everything buffered.
class VEK_API i_output_stream_impl : public virtual i_output_stream, public virtual stream_base {
public:
    i_output_stream_impl();
    ~i_output_stream_impl() override;

    bool put_text(const char* data) override;
    bool put_byte(unsigned char data) override;
    bool put_binary(const void* data, unsigned int data_size) override;
    bool set_out_buffer_timeout(unsigned int timeout) override;
    void flush_out_buffer() override;

protected:
    virtual bool write_out_buf(const void* data, unsigned int size);
    void do_bg_writeing() override;

    char* m_out_block;
    int m_out_capacity;
    int m_out_used;
    unsigned int m_out_timeout;
    mutex m_out_guard;  // the block and its counts; held across write_impl
    unsigned int m_first_unflushed;
};

class VEK_API i_inet_stream : public virtual i_io_stream {
public:
    // Owned by the stream, valid for its lifetime.
    virtual const char* get_host() = 0;
    virtual unsigned short get_port() = 0;

protected:
    ~i_inet_stream() = default;
};

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

// False for "no error", would block, in progress, already in progress and
// no buffer space; true for every other last socket error.
VEK_API bool vek_net_error();
// A connected non-blocking TCP socket, or -1 (nothing left open). A
// `timeout` of 0 means 5 seconds.
VEK_API int vek_net_tcp_open(const char* host, unsigned short port, unsigned int timeout);
// Sends or receives exactly `size` bytes on a non-blocking socket within
// `timeout` seconds (0: no limit). False on a real error, a closed peer
// (receive), a timeout with data missing, or when the framework stops.
VEK_API bool vek_net_send(int socket, const void* data, unsigned int size, unsigned int timeout);
VEK_API bool vek_net_recv(int socket, void* data, unsigned int size, unsigned int timeout);
// `value` from network (big-endian) to host byte order.
VEK_API unsigned long long ntohll(unsigned long long value);

// No reference added.
VEK_API vek::i_stream* vek_cast_i_stream(vek::i_object* obj);
VEK_API vek::i_input_stream* vek_cast_i_input_stream(vek::i_object* obj);
VEK_API vek::i_output_stream* vek_cast_i_output_stream(vek::i_object* obj);
VEK_API vek::i_io_stream* vek_cast_i_io_stream(vek::i_object* obj);
VEK_API vek::i_inet_stream* vek_cast_i_inet_stream(vek::i_object* obj);
VEK_API vek::i_udp_conn* vek_cast_i_udp_conn(vek::i_object* obj);
VEK_API vek::i_tcp_listener* vek_cast_i_tcp_listener(vek::i_object* obj);
VEK_API vek::i_socket_service* vek_cast_i_socket_service(vek::i_object* obj);

#endif
