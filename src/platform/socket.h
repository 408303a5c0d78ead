// IPv4 sockets, readiness waits and a wake-up descriptor.
//
// Handles are plain ints, -1 invalid. Every socket is close-on-exec, and no
// send here can raise SIGPIPE. Errors are left in errno for
// last_socket_error().
#ifndef VEK_PLATFORM_SOCKET_H
#define VEK_PLATFORM_SOCKET_H

#include <cstddef>

struct sockaddr_in;

namespace vek {
namespace platform {

const int k_sockaddr_in_size = 16;

// A new IPv4 stream (tcp) or datagram socket; -1 on failure.
int socket_create(bool tcp);
bool socket_set_nonblocking(int s);
void socket_set_reuseaddr(int s);
// Shuts both directions down and closes.
void socket_close(int s);
// Up to `max` IPv4 addresses of `host` (network order); 0 when it does not
// resolve.
int resolve_ipv4(const char* host, unsigned int* addrs, int max);
bool socket_bind(int s, unsigned int addr, unsigned short port);
bool socket_listen(int s, unsigned int backlog);
// One non-blocking accept: the new (non-blocking) socket with the peer's
// dotted address in `peer` ("" when it has none), or -1.
int socket_accept(int s, char* peer, std::size_t peer_size);
// 0 when connected, else -1 with errno set (EINPROGRESS and friends).
int socket_connect(int s, unsigned int addr, unsigned short port);
// The pending error of `s` (SO_ERROR), or errno when that cannot be read.
int socket_pending_error(int s);
// send/recv without blocking; -1 with errno on failure.
long socket_send(int s, const void* data, std::size_t size);
long socket_recv(int s, void* data, std::size_t size);
// recvfrom without blocking into `from` (`*from_len` bytes available).
long socket_recvfrom(int s, void* buf, std::size_t size, sockaddr_in* from, int* from_len);
long socket_sendto(int s, const void* data, std::size_t size, const void* to, int to_len);

// One datagram of a batch read: the caller fills buf, size and from; the
// read fills length (bytes received) and from_len (bytes of `from` valid).
struct datagram {
    void* buf;
    std::size_t size;
    sockaddr_in* from;
    int from_len;
    long length;
};
// Reads up to `count` datagrams without blocking, in one system call
// (recvmmsg). The number read, at least 1; -1 when none could be read, with
// the error for last_socket_error().
int socket_recv_batch(int s, datagram* batch, int count);
// The dotted address and host-order port of `addr`.
bool addr_text(const sockaddr_in* addr, char* out, std::size_t out_size);
unsigned short addr_port(const sockaddr_in* addr);

int last_socket_error();
// False for the codes that only mean "not yet": would block, in progress,
// already in progress, no buffer space.
bool socket_error_is_real(int err);
bool socket_error_is_already_connected(int err);
bool socket_error_is_in_progress(int err);

// Waits up to `ms` for `s` to become writable (write) or readable.
// True when it did.
bool wait_ready(int s, bool write, int ms);
// Waits up to `ms` until `wake_fd` or one of `fds` is readable; drains
// `wake_fd` when it was. True when one of `fds` was readable.
bool wait_readable(int wake_fd, const int* fds, int count, int ms);

// A wake-up descriptor (eventfd): wake() makes it readable, drain() reads
// that back. -1 on failure.
int wake_fd_create();
void wake_fd_signal(int fd);
void wake_fd_drain(int fd);
void wake_fd_close(int fd);

unsigned int net_to_host32(unsigned int v);

}  // namespace platform
}  // namespace vek

#endif
