// A plain HTTP client over loopback for the tests: whole answers, read
// until the server closes the connection.
#ifndef VEK_TESTS_HTTP_HTTP_CLIENT_H
#define VEK_TESTS_HTTP_HTTP_CLIENT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vek_test {

// A port nothing listens on now.
inline int free_port()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

// A connection to the port on 127.0.0.1 (reads give up after 20 s), or -1.
inline int connect_to(int port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{20, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? s : (close(s), -1);
}

// Whether the server has ended the connection (a close, or a reset when it
// closed before reading what was sent or before accepting it); does not wait.
inline bool ended(int s)
{
    char c;
    ssize_t n = recv(s, &c, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// Sends `text` on a new connection and reads until the server closes it.
inline std::string talk(int port, const std::string& text)
{
    int s = connect_to(port);
    if (s < 0) return "<no connection>";
    send(s, text.data(), text.size(), MSG_NOSIGNAL);
    std::string got;
    char buf[65536];
    for (ssize_t n; (n = recv(s, buf, sizeof buf, 0)) > 0;) got.append(buf, static_cast<size_t>(n));
    close(s);
    return got;
}

}  // namespace vek_test

#endif
