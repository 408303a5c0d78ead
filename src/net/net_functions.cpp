// Client TCP functions on plain socket handles, the byte-order helper and
// the stream and socket casts.
#include "object/cast_impl.h"
#include "platform/socket.h"
#include "vek/core.h"
#include "vek/streams.h"

namespace {

using namespace vek::platform;

const int k_max_addrs = 16;
const int k_slice_ms = 10;  // waits re-check the clock and the running flag this often

// True once `start + timeout` lies before the clock (never for timeout 0).
bool expired(unsigned int start, unsigned int timeout)
{
    return timeout != 0 && start + timeout < vek_get_curr_time();
}

// The first address's socket whose connect is under way or done; -1 when
// none.
int start_connect(const unsigned int* addrs, int count, unsigned short port)
{
    for (int i = 0; i < count; ++i) {
        int s = socket_create(true);
        if (s < 0) return -1;
        if (!socket_set_nonblocking(s)) {
            socket_close(s);
            return -1;
        }
        if (socket_connect(s, addrs[i], port) == 0) return s;
        int err = last_socket_error();
        if (!socket_error_is_real(err) || socket_error_is_in_progress(err)) return s;
        socket_close(s);
    }
    return -1;
}

// Sends (or receives) until `size` bytes have moved; see vek_net_send.
bool transfer(int socket, char* data, unsigned int size, unsigned int timeout, bool receive)
{
    unsigned int start = timeout != 0 ? vek_get_curr_time() : 0;
    if (socket < 0) return false;
    if (size == 0) return true;
    if (!vek_is_running()) return false;
    unsigned int done = 0;
    for (;;) {
        if (expired(start, timeout)) return done == size;
        long n =
            receive ? socket_recv(socket, data + done, size - done) : socket_send(socket, data + done, size - done);
        if (n >= 0) {
            done += static_cast<unsigned int>(n);
            if (done == size) return true;
            if (receive && n == 0) return false;
        } else if (vek_net_error()) {
            return false;
        }
        wait_ready(socket, !receive, k_slice_ms);
        if (!vek_is_running()) return done == size;
    }
}

}  // namespace

bool vek_net_error()
{
    return socket_error_is_real(last_socket_error());
}

int vek_net_tcp_open(const char* host, unsigned short port, unsigned int timeout)
{
    if (host == nullptr) return -1;
    if (timeout == 0) timeout = 5;
    unsigned int addrs[k_max_addrs];
    int count = resolve_ipv4(host, addrs, k_max_addrs);
    int s = start_connect(addrs, count, port);
    if (s < 0) return -1;
    unsigned int start = vek_get_curr_time();
    for (;;) {
        if (wait_ready(s, true, k_slice_ms)) {
            if (socket_pending_error(s) == 0) return s;
            break;
        }
        if (expired(start, timeout)) break;
    }
    socket_close(s);
    return -1;
}

bool vek_net_send(int socket, const void* data, unsigned int size, unsigned int timeout)
{
    return transfer(socket, static_cast<char*>(const_cast<void*>(data)), size, timeout, false);
}

bool vek_net_recv(int socket, void* data, unsigned int size, unsigned int timeout)
{
    return transfer(socket, static_cast<char*>(data), size, timeout, true);
}

unsigned long long ntohll(unsigned long long value)
{
    unsigned long long hi = net_to_host32(static_cast<unsigned int>(value));
    unsigned long long lo = net_to_host32(static_cast<unsigned int>(value >> 32));
    return (hi << 32) | lo;
}

VEK_DEFINE_CAST(vek::i_stream, i_stream)
VEK_DEFINE_CAST(vek::i_input_stream, i_input_stream)
VEK_DEFINE_CAST(vek::i_output_stream, i_output_stream)
VEK_DEFINE_CAST(vek::i_io_stream, i_io_stream)
VEK_DEFINE_CAST(vek::i_inet_stream, i_inet_stream)
VEK_DEFINE_CAST(vek::i_udp_conn, i_udp_conn)
VEK_DEFINE_CAST(vek::i_tcp_listener, i_tcp_listener)
VEK_DEFINE_CAST(vek::i_socket_service, i_socket_service)
