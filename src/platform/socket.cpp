// IPv4 sockets on Linux.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vek {
namespace platform {
namespace {

sockaddr_in make_addr(unsigned int addr, unsigned short port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addr;
    return a;
}

}  // namespace

int socket_create(bool tcp)
{
    return ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
}

bool socket_set_nonblocking(int s)
{
    int flags = ::fcntl(s, F_GETFL, 0);
    return flags != -1 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

void socket_set_reuseaddr(int s)
{
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
}

void socket_close(int s)
{
    if (s < 0) return;
    ::shutdown(s, SHUT_RDWR);
    ::close(s);
}

int resolve_ipv4(const char* host, unsigned int* addrs, int max)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &list) != 0) return 0;
    int n = 0;
    // getaddrinfo lists an address once per socket type; keep each once.
    for (addrinfo* ai = list; ai != nullptr && n < max; ai = ai->ai_next) {
        unsigned int a = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (int i = 0; i < n; ++i) seen = seen || addrs[i] == a;
        if (!seen) addrs[n++] = a;
    }
    ::freeaddrinfo(list);
    return n;
}

bool socket_bind(int s, unsigned int addr, unsigned short port)
{
    sockaddr_in a = make_addr(addr, port);
    return ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
}

bool socket_listen(int s, unsigned int backlog)
{
    return ::listen(s, backlog > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(backlog)) == 0;
}

int socket_accept(int s, char* peer, std::size_t peer_size)
{
    sockaddr_in a;
    socklen_t len = sizeof(a);
    int c = ::accept4(s, reinterpret_cast<sockaddr*>(&a), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c < 0) return -1;
    if (len < sizeof(a) || a.sin_family != AF_INET || !addr_text(&a, peer, peer_size)) peer[0] = '\0';
    return c;
}

int socket_connect(int s, unsigned int addr, unsigned short port)
{
    sockaddr_in a = make_addr(addr, port);
    int rc;
    do {
        rc = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : -1;
}

int socket_pending_error(int s)
{
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

long socket_send(int s, const void* data, std::size_t size)
{
    return ::send(s, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

long socket_recv(int s, void* data, std::size_t size)
{
    return ::recv(s, data, size, MSG_DONTWAIT);
}

long socket_recvfrom(int s, void* buf, std::size_t size, sockaddr_in* from, int* from_len)
{
    socklen_t len = static_cast<socklen_t>(*from_len);
    long n = ::recvfrom(s, buf, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(from), &len);
    *from_len = static_cast<int>(len);
    return n;
}

int socket_recv_batch(int s, datagram* batch, int count)
{
    const int k_most = 64;
    mmsghdr msgs[k_most];
    iovec iov[k_most];
    if (count > k_most) count = k_most;
    for (int i = 0; i < count; ++i) {
        iov[i] = iovec{batch[i].buf, batch[i].size};
        msgs[i] = mmsghdr{};
        msgs[i].msg_hdr.msg_name = batch[i].from;
        msgs[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    int n = ::recvmmsg(s, msgs, static_cast<unsigned int>(count), MSG_DONTWAIT, nullptr);
    for (int i = 0; i < n; ++i) {
        batch[i].length = static_cast<long>(msgs[i].msg_len);
        batch[i].from_len = static_cast<int>(msgs[i].msg_hdr.msg_namelen);
    }
    return n;
}

long socket_sendto(int s, const void* data, std::size_t size, const void* to, int to_len)
{
    return ::sendto(s, data, size, MSG_NOSIGNAL, static_cast<const sockaddr*>(to), static_cast<socklen_t>(to_len));
}

bool addr_text(const sockaddr_in* addr, char* out, std::size_t out_size)
{
    return ::inet_ntop(AF_INET, &addr->sin_addr, out, static_cast<socklen_t>(out_size)) != nullptr;
}

unsigned short addr_port(const sockaddr_in* addr)
{
    return ntohs(addr->sin_port);
}

int last_socket_error()
{
    return errno;
}

bool socket_error_is_real(int err)
{
    return !(err == 0 || err == EWOULDBLOCK || err == EAGAIN || err == EINPROGRESS || err == EALREADY ||
             err == ENOBUFS);
}

bool socket_error_is_already_connected(int err)
{
    return err == EISCONN;
}

bool socket_error_is_in_progress(int err)
{
    return err == EALREADY || err == EINPROGRESS;
}

bool wait_ready(int s, bool write, int ms)
{
    pollfd p{s, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    int saved = errno;
    int rc = ::poll(&p, 1, ms);
    errno = saved;
    return rc > 0;
}

bool wait_readable(int wake_fd, const int* fds, int count, int ms)
{
    std::vector<pollfd> set;
    set.reserve(static_cast<std::size_t>(count) + 1);
    set.push_back(pollfd{wake_fd, POLLIN, 0});
    for (int i = 0; i < count; ++i) set.push_back(pollfd{fds[i], POLLIN, 0});
    if (::poll(set.data(), set.size(), ms) <= 0) return false;
    if (set[0].revents != 0) wake_fd_drain(wake_fd);
    for (std::size_t i = 1; i < set.size(); ++i) {
        if (set[i].revents != 0) return true;
    }
    return false;
}

int wake_fd_create()
{
    return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void wake_fd_signal(int fd)
{
    if (fd < 0) return;
    std::uint64_t one = 1;
    ssize_t rc = ::write(fd, &one, sizeof(one));
    (void)rc;
}

void wake_fd_drain(int fd)
{
    if (fd < 0) return;
    std::uint64_t v;
    ssize_t rc = ::read(fd, &v, sizeof(v));
    (void)rc;
}

void wake_fd_close(int fd)
{
    if (fd >= 0) ::close(fd);
}

unsigned int net_to_host32(unsigned int v)
{
    return ntohl(v);
}

}  // namespace platform
}  // namespace vek
