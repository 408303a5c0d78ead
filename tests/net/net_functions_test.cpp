// vek_net_error, vek_net_tcp_open, vek_net_send, vek_net_recv and ntohll.
#include <fcntl.h>
#include <cerrno>

#include "net_support.h"

namespace {

using net_test::free_port;
using net_test::local_addr;

class net_functions_test : public net_test::net_fixture {
protected:
    // A connected pair: `a` from vek_net_tcp_open, `b` accepted (blocking).
    void make_pair()
    {
        unsigned short port = free_port();
        int l = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = local_addr(port);
        ASSERT_EQ(bind(l, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        listen(l, 1);
        a = vek_net_tcp_open("127.0.0.1", port, 2);
        b = accept(l, nullptr, nullptr);
        close(l);
        ASSERT_GE(a, 0);
        ASSERT_GE(b, 0);
        EXPECT_NE(fcntl(a, F_GETFL) & O_NONBLOCK, 0);
    }
    void TearDown() override
    {
        close(a);
        close(b);
        net_fixture::TearDown();
    }
    int a = -1, b = -1;
};

TEST_F(net_functions_test, net_error_tells_real_errors_from_not_yet)
{
    make_pair();
    char c;
    errno = 0;
    EXPECT_FALSE(vek_net_error());
    EXPECT_EQ(recv(a, &c, 1, MSG_DONTWAIT), -1);
    EXPECT_FALSE(vek_net_error());  // would block
    linger l{1, 0};
    setsockopt(b, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    close(b);
    b = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(recv(a, &c, 1, MSG_DONTWAIT), -1);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_TRUE(vek_net_error());
}

TEST_F(net_functions_test, send_and_recv_move_exact_counts_or_fail)
{
    make_pair();
    std::string data(300000, 'q');
    std::thread peer([&] {
        std::string got(data.size(), '\0');
        size_t at = 0;
        for (ssize_t n; at < got.size() && (n = recv(b, &got[at], got.size() - at, 0)) > 0;) at += n;
        EXPECT_EQ(got, data);
        send(b, "half", 4, 0);
        shutdown(b, SHUT_WR);
    });
    EXPECT_TRUE(vek_net_send(a, data.data(), static_cast<unsigned int>(data.size()), 5));
    peer.join();
    char buf[8] = {};
    EXPECT_FALSE(vek_net_recv(a, buf, 8, 5));  // the peer closed after half
    EXPECT_EQ(std::string(buf, 4), "half");
    EXPECT_TRUE(vek_net_recv(a, buf, 0, 1));
    EXPECT_TRUE(vek_net_send(a, buf, 0, 1));
    EXPECT_FALSE(vek_net_send(-1, buf, 1, 1));
    EXPECT_FALSE(vek_net_recv(-1, buf, 1, 1));
    int closed = dup(a);
    close(closed);
    EXPECT_FALSE(vek_net_send(closed, buf, 1, 1));
    EXPECT_FALSE(vek_net_recv(closed, buf, 1, 1));
    // Nothing comes: false after the timeout, not before.
    unsigned int start = vek_get_curr_time();
    close(a);
    close(b);
    make_pair();
    EXPECT_FALSE(vek_net_recv(a, buf, 1, 1));
    EXPECT_GE(vek_get_curr_time(), start + 1);
}

TEST_F(net_functions_test, tcp_open_fails_in_time_and_leaves_nothing_open)
{
    EXPECT_EQ(vek_net_tcp_open(nullptr, 1, 1), -1);
    EXPECT_EQ(vek_net_tcp_open("no-such-host.invalid", 1, 1), -1);
    EXPECT_EQ(vek_net_tcp_open("127.0.0.1", free_port(), 1), -1);
    // A listener whose accept queue is full never completes the handshake.
    int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = local_addr(0);
    socklen_t len = sizeof(addr);
    bind(l, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    listen(l, 0);
    getsockname(l, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 8; ++i) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        fillers.push_back(s);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vek_net_tcp_open("127.0.0.1", ntohs(addr.sin_port), 1), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    for (int s : fillers) close(s);
    close(l);
}

TEST(net_byte_order, ntohll_reads_big_endian)
{
    const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned long long v;
    std::memcpy(&v, bytes, 8);
    EXPECT_EQ(ntohll(v), 0x0102030405060708ULL);
    EXPECT_EQ(ntohll(ntohll(v)), v);
}

}  // namespace
