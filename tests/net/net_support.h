// Shared pieces of the stream and socket tests: a fixture that loads the
// library, free ports, and a TCP connection class built from the three
// stream classes the way modules build theirs.
#ifndef VEK_TESTS_NET_SUPPORT_H
#define VEK_TESTS_NET_SUPPORT_H

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "test_support.h"

namespace net_test {

inline int open_fds()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d) != nullptr) ++n;
    closedir(d);
    return n;
}

inline sockaddr_in local_addr(unsigned short port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A port the kernel just handed out and took back (one retry).
inline unsigned short free_port(int type = SOCK_STREAM)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        int s = socket(AF_INET, type, 0);
        sockaddr_in a = local_addr(0);
        socklen_t len = sizeof(a);
        bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
                  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
        close(s);
        if (ok && ntohs(a.sin_port) != 0) return ntohs(a.sin_port);
    }
    return 0;
}

// A blocking client socket connected to 127.0.0.1:port; -1 on failure.
inline int connect_to(unsigned short port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = local_addr(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// New reference: caller releases. The socket service.
inline vek::i_socket_service* sockets()
{
    return vek_cast_i_socket_service(vek_core()->get_service("svc_socket"));
}

// Initialises the library and loads vek_core.so itself; checks that every
// descriptor opened meanwhile was closed again.
class net_fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_fds = open_fds();
        vek_test::quiet_trace();
        ASSERT_TRUE(vek_initialize());
        ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);
        svc = sockets();
        ASSERT_NE(svc, nullptr);
    }
    void TearDown() override
    {
        vek_release(svc);
        vek_terminate();
        EXPECT_TRUE(vek_test::wait_for([&] { return open_fds() == m_fds; }, 3000))
            << open_fds() << " descriptors open, " << m_fds << " at the start";
    }
    // Waits until the clock has moved on by `seconds`.
    static void pass_seconds(unsigned int seconds)
    {
        unsigned int until = vek_get_curr_time() + seconds;
        ASSERT_TRUE(vek_test::wait_for([&] { return vek_get_curr_time() >= until; }, 1000 * (seconds + 2)));
    }

    vek::i_socket_service* svc = nullptr;

private:
    int m_fds = 0;
};

// A TCP connection over an accepted socket. Reports itself disconnected
// only after the peer has gone and what it sent has been announced.
class tcp_conn : public vek::i_stream_impl,
                 public vek::i_input_stream_impl,
                 public vek::i_output_stream_impl,
                 public virtual vek::i_io_stream {
public:
    static inline std::atomic<int> live{0};

    explicit tcp_conn(int s, int in_timeout = 0) : m_socket(s)
    {
        set_in_buffer_timeout(in_timeout);
        ++live;
    }
    ~tcp_conn() override
    {
        close(m_socket);
        --live;
    }
    void start() { start_io(); }
    bool disconnect() override
    {
        m_connected = false;
        return true;
    }
    bool is_connected() override { return m_connected && !(m_peer_gone && m_first_unnotified == 0); }
    bool get_interface(const char* name, void** pp) override
    {
        void* mine[] = {static_cast<vek::i_io_stream*>(this), static_cast<vek::i_input_stream*>(this),
                        static_cast<vek::i_output_stream*>(this)};
        const char* names[] = {"i_io_stream", "i_input_stream", "i_output_stream"};
        for (int i = 0; i < 3; ++i) {
            if (std::strcmp(name, names[i]) == 0) {
                *pp = mine[i];
                return true;
            }
        }
        return i_stream_impl::get_interface(name, pp);
    }
    std::atomic<bool> send_failed{false};

protected:
    unsigned int read_impl(char* buf, unsigned int size) override
    {
        if (m_peer_gone) return 0;
        ssize_t n = recv(m_socket, buf, size, MSG_DONTWAIT);
        if (n > 0) return static_cast<unsigned int>(n);
        if (n == 0 || vek_net_error()) m_peer_gone = true;
        return 0;
    }
    int write_impl(const char* data, unsigned int size) override
    {
        if (vek_net_send(m_socket, data, size, 10)) return static_cast<int>(size);
        send_failed = true;
        m_connected = false;
        return -1;
    }

private:
    int m_socket;
    std::atomic<bool> m_connected{true};
    std::atomic<bool> m_peer_gone{false};
};

// Counts the events of one type; keeps the last event object's text.
class counter : public vek::object {
public:
    bool on_event(vek::i_event* e)
    {
        ids.push_back(e->get_event_id());
        ++count;
        return true;
    }
    std::atomic<int> count{0};
    std::vector<long long> ids;
};

}  // namespace net_test

#endif
