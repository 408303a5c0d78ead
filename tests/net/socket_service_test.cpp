// The socket service, tcp_listener and the network functions over loopback
// TCP sockets.
#include <fcntl.h>
#include <cerrno>
#include <csignal>
#include <random>

#include "net_support.h"

namespace {

using vek_test::wait_for;

class SocketServiceTest : public net_test::NetTest {};

// Each client half-closes right after its last line, which must still be
// answered in full. Connections and data are served in arrival order, so
// the last client's first line comes back only after nearly all the others
// have been echoed: under ThreadSanitizer on a busy machine that is well
// past 10 s, hence the longer bound on each wait.
TEST_F(SocketServiceTest, TwoHundredClientsGetTheirLinesEchoed)
{
    ASSERT_TRUE(init("127.0.0.1", port));
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int i = 0; i < 200; ++i) {
        threads.emplace_back([&, i] {
            std::mt19937 rng(static_cast<unsigned int>(i));
            std::string data(65536, '\n');
            for (char& c : data) c = rng() % 64 == 0 ? '\n' : static_cast<char>('!' + rng() % 90);
            data.back() = '\n';
            int s = connect_to(port, SOCK_STREAM, 60);
            for (size_t at = 0, n; at < data.size(); at += n) {
                n = std::min<size_t>(1 + rng() % 9000, data.size() - at);
                if (send(s, data.data() + at, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) break;
            }
            shutdown(s, SHUT_WR);
            std::string got(data.size(), '\0');
            size_t at = 0;
            for (ssize_t r; at < got.size() && (r = recv(s, &got[at], got.size() - at, 0)) > 0;) at += r;
            if (got == data) ++ok;
            close(s);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok, 200);
    EXPECT_EQ(connections, 200);
    // Connections still queued at the shut-down must leave no descriptor
    // behind (the fixture counts them).
    for (int i = 0; i < 50; ++i) owned.push_back(connect_to(port));
}

TEST_F(SocketServiceTest, OpenAndCloseFollowHostPortAndKind)
{
    net_test::fs::path log = vek_test::scratch_path("vek_socket_log");
    vek_set_log_facility(log.c_str());
    vek_set_log_level(0);
    unsigned short busy = 0;
    owned.push_back(bound(SOCK_STREAM, busy));
    EXPECT_FALSE(svc->listen_tcp("", port, 0));
    EXPECT_FALSE(svc->listen_tcp("", 0, 10));
    EXPECT_FALSE(svc->listen_tcp(nullptr, port, 10));
    EXPECT_TRUE(svc->listen_tcp("", port, 10));
    EXPECT_FALSE(svc->listen_tcp("*", port, 10));
    EXPECT_TRUE(svc->open_udp("*", port));
    EXPECT_FALSE(svc->listen_tcp("no-such-host.invalid", port, 10));
    EXPECT_FALSE(svc->listen_tcp("127.0.0.1", busy, 10));
    EXPECT_TRUE(svc->close_tcp("*", port));
    EXPECT_FALSE(svc->close_tcp("", port));
    EXPECT_TRUE(svc->close_udp("", port));
    EXPECT_EQ(svc->get_port_socket(port), -1);
    vek_set_log_facility("stderr");
    std::string text = vek_test::read_text(log);
    net_test::fs::remove(log);
    for (std::string line : {std::string("resolving address 'no-such-host.invalid'."),
                             "binding socket to address [127.0.0.1] : [" + std::to_string(busy) + "]."}) {
        EXPECT_NE(text.find(": socket_service: Error " + line + "\n"), std::string::npos) << text;
    }

    // The listener keeps its address even when the port cannot be bound.
    EXPECT_FALSE(init("", busy));
    EXPECT_TRUE(check_addr("", busy));
    EXPECT_FALSE(check_addr("10.0.0.1", busy));
    EXPECT_FALSE(check_addr(nullptr, busy));
    EXPECT_EQ(vek_cast_i_tcp_listener(static_cast<vek::tcp_listener*>(this)), this);
    EXPECT_TRUE(stop());
    EXPECT_FALSE(check_addr("", busy));

    // Refused connections, and those to a port no listener serves, are
    // closed; a port closed can be opened again at once.
    accept_them = false;
    ASSERT_TRUE(init("127.0.0.1", port));
    unsigned short bare = free_port();
    ASSERT_TRUE(svc->listen_tcp("127.0.0.1", bare, 10));
    for (unsigned short p : {port, bare}) {
        int s = connect_to(p);
        char c;
        EXPECT_EQ(recv(s, &c, 1, 0), 0) << p;  // closed by the server
        close(s);
    }
    EXPECT_EQ(connections, 1);
    ASSERT_TRUE(stop());
    EXPECT_FALSE(svc->close_tcp("127.0.0.1", port));
    EXPECT_TRUE(init("127.0.0.1", port));
}

// vek_net_tcp_open, vek_net_send, vek_net_recv, vek_net_error and ntohll.
TEST_F(SocketServiceTest, TheNetworkFunctionsMoveExactCountsOrFailInTime)
{
    unsigned short p = 0;
    int l = bound(SOCK_STREAM, p);
    int a = vek_net_tcp_open("127.0.0.1", p, 2), b = accept(l, nullptr, nullptr);  // a: to close by hand
    close(l);
    owned.push_back(b);
    ASSERT_TRUE(a >= 0 && b >= 0);
    EXPECT_NE(fcntl(a, F_GETFL) & O_NONBLOCK, 0);
    char buf[8] = {};
    errno = 0;
    EXPECT_FALSE(vek_net_error());
    EXPECT_EQ(recv(a, buf, 1, MSG_DONTWAIT), -1);
    EXPECT_FALSE(vek_net_error());  // would block
    // Nothing comes: false after the timeout, not before.
    unsigned int start = vek_get_curr_time();
    EXPECT_FALSE(vek_net_recv(a, buf, 1, 1));
    EXPECT_GE(vek_get_curr_time(), start + 1);

    send(b, "half", 4, 0);
    shutdown(b, SHUT_WR);
    EXPECT_TRUE(vek_net_recv(a, buf, 2, 5));
    EXPECT_FALSE(vek_net_recv(a, buf + 2, 6, 5));  // the peer closed after "lf"
    EXPECT_EQ(std::string(buf, 4), "half");
    EXPECT_TRUE(vek_net_send(a, buf, 0, 1));
    int closed = dup(a);
    close(closed);
    for (int s : {-1, closed}) {
        EXPECT_FALSE(vek_net_send(s, buf, 1, 1));
        EXPECT_FALSE(vek_net_recv(s, buf, 1, 1));
    }

    // A reset is a real error. A send the kernel refuses with EPIPE (the
    // peer or the socket's own side gone) fails and raises no SIGPIPE, which
    // would kill the test.
    std::signal(SIGPIPE, SIG_DFL);
    linger reset{1, 0};
    setsockopt(a, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    close(a);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(recv(b, buf, 1, MSG_DONTWAIT), -1);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_TRUE(vek_net_error());
    EXPECT_FALSE(vek_net_send(b, buf, 1, 1));
    EXPECT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_DFL);

    EXPECT_EQ(vek_net_tcp_open(nullptr, 1, 1), -1);
    EXPECT_EQ(vek_net_tcp_open("no-such-host.invalid", 1, 1), -1);
    EXPECT_EQ(vek_net_tcp_open("127.0.0.1", free_port(), 1), -1);

    const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // ntohll reads them big-endian
    unsigned long long v;
    std::memcpy(&v, bytes, 8);
    EXPECT_EQ(ntohll(v), 0x0102030405060708ULL);
}

}  // namespace
