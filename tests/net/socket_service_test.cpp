// The socket service, tcp_listener and udp_conn over loopback sockets.
#include <csignal>
#include <mutex>
#include <random>

#include "net_support.h"

namespace {

using net_test::connect_to;
using net_test::free_port;
using net_test::local_addr;
using net_test::tcp_conn;
using vek_test::wait_for;

// A blocking client socket that gives up on reads and writes after `ms`.
void set_deadline(int s, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

// Reads until `n` bytes came or the peer closed or the deadline passed.
std::string read_n(int s, size_t n)
{
    std::string out;
    char buf[65536];
    while (out.size() < n) {
        ssize_t r = recv(s, buf, std::min(sizeof(buf), n - out.size()), 0);
        if (r <= 0) break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

// Takes every connection into a tcp_conn (or refuses them all); echoes or
// collects "\n"-terminated frames, as chosen.
class server : public vek::tcp_listener {
public:
    bool accept = true, echo = true;
    unsigned int out_timeout = 0;
    std::mutex m;
    std::vector<std::string> frames;
    std::vector<vek::i_io_stream*> conns;  // referenced
    std::atomic<int> connections{0};

    ~server() override
    {
        for (auto* c : conns) c->release();
    }
    // The pool thread that accepts appends to `conns`; the test's thread
    // reads it through these, under the same lock.
    size_t conn_count()
    {
        std::lock_guard<std::mutex> g(m);
        return conns.size();
    }
    vek::i_io_stream* conn(size_t i)
    {
        std::lock_guard<std::mutex> g(m);
        return conns.at(i);
    }
    bool on_connection(unsigned int s, const char* host) override
    {
        ++connections;
        if (!accept) return false;
        EXPECT_STREQ(host, "127.0.0.1");
        auto* c = new tcp_conn(static_cast<int>(s));
        c->set_out_buffer_timeout(out_timeout);
        c->addref();
        c->start();
        std::lock_guard<std::mutex> g(m);
        conns.push_back(c);
        return true;
    }
    bool on_data(vek::i_event* e)
    {
        vek::i_object* obj = e->get_event_object();
        vek::i_io_stream* st = vek_cast_i_io_stream(obj);
        // Events of one stream may run on two pool threads at once; the
        // stream's lock keeps each take-and-answer whole.
        st->lock(5);
        if (echo) {
            vek::i_binary* b = st->get_binary(0, true);
            if (b->get_data_size() != 0) st->put_binary(b->get_data(), b->get_data_size());
            b->release();
        } else {
            for (char* t; (t = st->get_text("\n", true)) != nullptr; std::free(t)) {
                std::lock_guard<std::mutex> g(m);
                frames.push_back(t);
            }
        }
        st->unlock();
        obj->release();
        return true;
    }
};

const auto on_data = static_cast<vek::vek_event_function>(&server::on_data);

class socket_service_test : public net_test::net_fixture {
protected:
    void SetUp() override
    {
        net_fixture::SetUp();
        port = free_port();
        ASSERT_NE(port, 0);
        vek_install_handler("VEK_EVT_STREAM_DATA_AVAIBLE", 0, srv, on_data);
    }
    void TearDown() override
    {
        srv->stop();
        vek_release(svc);
        svc = nullptr;
        vek_terminate();  // drops the streams before the server goes
        srv->release();
        EXPECT_EQ(tcp_conn::live, 0);
        net_fixture::TearDown();
    }
    server* srv = [] {
        auto* s = new server();
        s->addref();
        return s;
    }();
    unsigned short port = 0;
};

TEST_F(socket_service_test, two_hundred_clients_get_their_bytes_echoed)
{
    ASSERT_TRUE(srv->init("127.0.0.1", port));
    std::vector<std::thread> clients;
    std::atomic<int> ok{0};
    for (int i = 0; i < 200; ++i) {
        clients.emplace_back([&, i] {
            std::mt19937 rng(static_cast<unsigned int>(i));
            std::string data(65536, '\0');
            for (char& c : data) c = static_cast<char>(rng());
            int s = connect_to(port);
            set_deadline(s, 10000);
            for (size_t at = 0; at < data.size();) {
                size_t n = std::min<size_t>(1 + rng() % 9000, data.size() - at);
                if (send(s, data.data() + at, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) break;
                at += n;
            }
            if (read_n(s, data.size()) == data) ++ok;
            close(s);
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(ok, 200);
    EXPECT_EQ(srv->connections, 200);
}

TEST_F(socket_service_test, frames_reach_the_handler_whole_even_right_before_a_close)
{
    srv->echo = false;
    ASSERT_TRUE(srv->init("", port));
    EXPECT_TRUE(srv->check_addr("", port));
    int s = connect_to(port);
    ASSERT_TRUE(wait_for([&] { return tcp_conn::live == 1; }));
    send(s, "first ha", 8, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    {
        std::lock_guard<std::mutex> g(srv->m);
        EXPECT_TRUE(srv->frames.empty());
    }
    send(s, "lf\nsecond\nthi", 13, 0);
    close(s);
    ASSERT_TRUE(wait_for([&] {
        std::lock_guard<std::mutex> g(srv->m);
        return srv->frames.size() == 2;
    }));
    // The unfinished rest stays; the stream is out of service.
    ASSERT_TRUE(wait_for([&] { return !srv->conn(0)->is_connected(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::lock_guard<std::mutex> g(srv->m);
    EXPECT_EQ(srv->frames, (std::vector<std::string>{"first half\n", "second\n"}));
    EXPECT_EQ(srv->conns.at(0)->get_in_buffer_size(), 3u);
}

TEST_F(socket_service_test, a_vanishing_peer_fails_the_send_without_sigpipe)
{
    std::signal(SIGPIPE, SIG_DFL);  // a write to the gone peer would kill the test
    ASSERT_TRUE(srv->init("127.0.0.1", port));
    for (bool reset : {false, true}) {
        int s = connect_to(port);
        set_deadline(s, 5000);
        ASSERT_TRUE(wait_for([&] { return srv->conn_count() == (reset ? 2u : 1u); }));
        auto* c = dynamic_cast<tcp_conn*>(srv->conn(reset ? 1 : 0));
        std::thread writer([&] {
            std::string block(65536, 'z');
            for (int i = 0; i < 1024 && c->put_binary(block.data(), block.size()); ++i) {
            }
        });
        read_n(s, 100000);
        if (reset) {
            linger l{1, 0};
            setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
        }
        close(s);
        writer.join();
        EXPECT_TRUE(c->send_failed);
        EXPECT_FALSE(c->is_connected());
    }
    EXPECT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_DFL);
}

TEST_F(socket_service_test, a_slow_reader_gets_buffered_output_in_order)
{
    srv->out_timeout = 1;
    ASSERT_TRUE(srv->init("127.0.0.1", port));
    int s = connect_to(port);
    set_deadline(s, 10000);
    ASSERT_TRUE(wait_for([&] { return srv->conn_count() == 1; }));
    std::string all, got;
    for (unsigned int i = 0; all.size() < (8u << 20); ++i) all += std::to_string(i) + ",";
    // Reads while the text is put: a background flush that fills the
    // socket's buffers holds the output lock until a reader makes room.
    std::thread reader([&] {
        char buf[8192];
        for (ssize_t r; got.size() < all.size() && (r = recv(s, buf, sizeof(buf), 0)) > 0;) {
            got.append(buf, static_cast<size_t>(r));
            if (got.size() % 512 == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    for (size_t at = 0; at < all.size(); at += 4000) {
        EXPECT_TRUE(srv->conn(0)->put_text(all.substr(at, 4000).c_str()));
    }
    reader.join();
    EXPECT_TRUE(got == all) << got.size() << " of " << all.size();
    close(s);
}

TEST_F(socket_service_test, refused_and_unlistened_connections_are_closed)
{
    srv->accept = false;
    ASSERT_TRUE(srv->init("127.0.0.1", port));
    unsigned short bare = free_port();
    ASSERT_TRUE(svc->listen_tcp("127.0.0.1", bare, 10));  // no listener handler
    for (unsigned short p : {port, bare}) {
        int s = connect_to(p);
        set_deadline(s, 3000);
        char c;
        EXPECT_EQ(recv(s, &c, 1, 0), 0) << p;  // closed by the server
        close(s);
    }
    EXPECT_EQ(srv->connections, 1);
    // Closed and opened again at once, with the listener's host.
    ASSERT_TRUE(srv->stop());
    EXPECT_FALSE(svc->close_tcp("127.0.0.1", port));
    EXPECT_TRUE(srv->init("127.0.0.1", port));
    EXPECT_TRUE(svc->close_tcp("127.0.0.1", bare));
    EXPECT_TRUE(svc->listen_tcp("127.0.0.1", bare, 10));
}

TEST_F(socket_service_test, connections_queued_at_shut_down_leave_no_descriptor)
{
    ASSERT_TRUE(srv->init("127.0.0.1", port));
    std::vector<int> clients;
    for (int i = 0; i < 50; ++i) clients.push_back(connect_to(port));
    // The fixture counts descriptors after the shut-down.
    srv->stop();
    vek_release(svc);
    svc = nullptr;
    vek_terminate();
    for (int s : clients) close(s);
}

TEST_F(socket_service_test, open_and_close_follow_host_port_and_kind)
{
    std::filesystem::path log = vek_test::scratch_path("vek_socket_log");
    vek_set_log_facility(log.c_str());
    vek_set_log_level(0);
    int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = local_addr(0);
    socklen_t len = sizeof(a);
    bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(taken, 1);
    getsockname(taken, reinterpret_cast<sockaddr*>(&a), &len);
    unsigned short busy = ntohs(a.sin_port);

    EXPECT_FALSE(svc->listen_tcp("", port, 0));
    EXPECT_FALSE(svc->listen_tcp("", 0, 10));
    EXPECT_FALSE(svc->listen_tcp(nullptr, port, 10));
    EXPECT_TRUE(svc->listen_tcp("", port, 10));
    EXPECT_FALSE(svc->listen_tcp("*", port, 10));
    EXPECT_TRUE(svc->open_udp("*", port));
    EXPECT_FALSE(svc->close_udp("127.0.0.1", port));
    EXPECT_FALSE(svc->listen_tcp("no-such-host.invalid", port, 10));
    EXPECT_FALSE(svc->listen_tcp("127.0.0.1", busy, 10));
    EXPECT_TRUE(svc->close_tcp("*", port));
    EXPECT_FALSE(svc->close_tcp("", port));
    EXPECT_TRUE(svc->close_udp("", port));
    EXPECT_EQ(svc->get_port_socket(port), -1);

    // The listener keeps its address even when the port cannot be bound.
    server idle;
    EXPECT_FALSE(idle.init("", busy));
    EXPECT_TRUE(idle.check_addr("", busy));
    EXPECT_TRUE(idle.check_addr("*", busy));
    EXPECT_FALSE(idle.check_addr("10.0.0.1", busy));
    EXPECT_FALSE(idle.check_addr("", busy + 1));
    EXPECT_FALSE(idle.check_addr(nullptr, busy));
    EXPECT_EQ(vek_cast_i_tcp_listener(static_cast<vek::tcp_listener*>(&idle)), &idle);
    EXPECT_TRUE(idle.stop());
    EXPECT_FALSE(idle.check_addr("", busy));
    close(taken);
    vek_set_log_facility("stderr");

    std::string text = vek_test::read_text(log);
    std::filesystem::remove(log);
    EXPECT_NE(text.find(": socket_service: Error resolving address 'no-such-host.invalid'.\n"), std::string::npos);
    EXPECT_NE(
        text.find(": socket_service: Error binding socket to address [127.0.0.1] : [" + std::to_string(busy) + "].\n"),
        std::string::npos)
        << text;
}

}  // namespace
