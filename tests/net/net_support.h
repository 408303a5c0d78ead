// The network tests' shared pieces: a connection class built the way
// modules build theirs, and one fixture that serves connections and
// datagrams and checks, at the end, that every stream and every descriptor
// opened meanwhile is gone again.
#ifndef VEK_TESTS_NET_SUPPORT_H
#define VEK_TESTS_NET_SUPPORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <deque>
#include <mutex>

#include "test_support.h"

namespace net_test {

namespace fs = std::filesystem;
using vek_test::wait_for;

// A stream over an accepted socket, or over a scripted transport when it has
// none: reads take what is in `input`, writes are recorded and answered from
// `write_results` (all taken when it is empty). Over a socket it reports
// itself disconnected only after the peer has gone and what it sent has
// been announced.
class conn : public vek::i_stream_impl,
             public vek::i_input_stream_impl,
             public vek::i_output_stream_impl,
             public virtual vek::i_io_stream {
public:
    static inline std::atomic<int> live{0};
    explicit conn(int s = -1) : m_socket(s) { ++live; }
    ~conn() override
    {
        if (m_socket >= 0) close(m_socket);
        --live;
    }
    void start() { start_io(); }
    void reading() { do_bg_reading(); }
    unsigned int lock_owner() { return m_lock_owner; }
    unsigned int unannounced_since() { return m_first_unnotified; }  // 0: all read data announced
    bool disconnect() override
    {
        m_connected = false;
        return true;
    }
    bool is_connected() override { return m_connected && !(m_peer_gone && m_first_unnotified == 0); }

    std::string input;
    std::deque<int> write_results;
    std::vector<std::string> writes;

protected:
    unsigned int read_impl(char* buf, unsigned int size) override
    {
        if (m_socket < 0) {
            unsigned int n = static_cast<unsigned int>(input.copy(buf, size));
            input.erase(0, n);
            return n;
        }
        ssize_t n = m_peer_gone ? 0 : recv(m_socket, buf, size, MSG_DONTWAIT);
        if (n > 0) return static_cast<unsigned int>(n);
        if (n == 0 || vek_net_error()) m_peer_gone = true;
        return 0;
    }
    int write_impl(const char* data, unsigned int size) override
    {
        if (m_socket < 0) {
            writes.emplace_back(data, size);
            int r = write_results.empty() ? static_cast<int>(size) : write_results.front();
            if (!write_results.empty()) write_results.pop_front();
            return r;
        }
        return vek_net_send(m_socket, data, size, 10) ? static_cast<int>(size) : -1;
    }

private:
    int m_socket;
    std::atomic<bool> m_connected{true};
    std::atomic<bool> m_peer_gone{false};
};

// Initialises the library and loads vek_core.so itself. The fixture is the
// listener: it takes every connection into a conn (or refuses them all) and
// keeps every datagram that comes to `udp`, a free port the tests open
// when they want it; it counts data events and echoes the "\n"-terminated
// lines. Offers a scripted stream `st` and a free TCP port.
class NetTest : public ::testing::Test, public vek::tcp_listener {
protected:
    void SetUp() override
    {
        st->addref();
        st->set_in_buffer_timeout(-1);
        m_fds = open_fds();
        vek_test::quiet_trace();
        ASSERT_TRUE(vek_initialize());
        ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);
        svc = vek_cast_i_socket_service(vek_core()->get_service("svc_socket"));
        ASSERT_NE(svc, nullptr);
        ASSERT_NE(port = free_port(), 0);
        ASSERT_NE(udp = free_port(SOCK_DGRAM), 0);
        vek_install_handler("VEK_EVT_STREAM_DATA_AVAIBLE", 0, this,
                            static_cast<vek::vek_event_function>(&NetTest::on_data));
        vek_install_handler("VEK_EVT_UDP_PACKET_RECEIVED", udp, this,
                            static_cast<vek::vek_event_function>(&NetTest::on_packet));
    }
    void TearDown() override
    {
        st->release();
        stop();
        vek_release(svc);
        vek_terminate();  // drops the streams before the fixture lets go of its own
        for (auto* c : m_conns) c->release();
        for (int s : owned) close(s);
        // A queued data event holds its stream until it is delivered or dropped.
        EXPECT_TRUE(wait_for([] { return conn::live == 0; }, 3000)) << conn::live;
        EXPECT_TRUE(wait_for([&] { return open_fds() == m_fds; }, 3000))
            << open_fds() << " open, " << m_fds << " before";
    }
    bool on_connection(unsigned int s, const char* host) override
    {
        ++connections;
        if (!accept_them) return false;
        EXPECT_STREQ(host, "127.0.0.1");
        auto* c = new conn(static_cast<int>(s));
        c->set_in_buffer_timeout(0);
        c->addref();
        c->start();
        return keep(c);
    }
    bool on_data(vek::i_event* e)
    {
        vek::i_object* obj = e->get_event_object();
        auto* s = dynamic_cast<vek::i_io_stream*>(obj);
        last_id = e->get_event_id();
        ++events;
        // Events of one stream may run on two pool threads at once; the
        // stream's lock keeps each take-and-answer whole.
        s->lock(5);
        for (char* t; (t = s->get_text("\n", true)) != nullptr; std::free(t)) s->put_text(t);
        s->unlock();
        obj->release();
        return true;
    }
    bool on_packet(vek::i_event* e)
    {
        EXPECT_EQ(e->get_event_id(), udp);
        return keep(vek_cast_i_udp_conn(e->get_event_object()));
    }
    bool keep(vek::i_io_stream* c)
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_conns.push_back(c);
        return true;
    }
    // The i-th connection or datagram taken; null while there is none.
    vek::i_io_stream* taken(size_t i)
    {
        std::lock_guard<std::mutex> g(m_lock);
        return i < m_conns.size() ? m_conns[i] : nullptr;
    }

    static long open_fds() { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); }
    static sockaddr_in local_addr(unsigned short port) { return {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}}; }
    static sockaddr* sa(sockaddr_in& a) { return reinterpret_cast<sockaddr*>(&a); }
    // A socket of `type` on 127.0.0.1 and a free port (`port` gets it, 0 on
    // failure), listening when it is a stream socket.
    static int bound(int type, unsigned short& port)
    {
        int s = socket(AF_INET, type, 0);
        sockaddr_in a = local_addr(0);
        socklen_t len = sizeof(a);
        bool ok = bind(s, sa(a), sizeof(a)) == 0 && getsockname(s, sa(a), &len) == 0;
        port = ok ? ntohs(a.sin_port) : 0;
        if (type == SOCK_STREAM) listen(s, 1);
        return s;
    }
    // A port the kernel just handed out and took back.
    static unsigned short free_port(int type = SOCK_STREAM)
    {
        unsigned short port = 0;
        close(bound(type, port));
        return port;
    }
    // A blocking client socket of `type`, connected to 127.0.0.1:port when
    // it can be, whose reads and writes give up after `seconds`.
    static int connect_to(unsigned short port, int type = SOCK_STREAM, long seconds = 10)
    {
        int s = socket(AF_INET, type, 0);
        sockaddr_in a = local_addr(port);
        timeval tv{seconds, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
        connect(s, sa(a), sizeof(a));
        return s;
    }
    // The text `t` ("<null>" for null), freed.
    static std::string take(char* t)
    {
        std::string out = t != nullptr ? t : "<null>";
        std::free(t);
        return out;
    }
    // The bytes of `b` ("<null>" for null), which holds one reference, the
    // caller's, and is released.
    static std::string take(vek::i_binary* b)
    {
        if (b == nullptr) return "<null>";
        EXPECT_EQ(vek_test::count_of(b), 1);
        std::string out(static_cast<const char*>(b->get_data()), b->get_data_size());
        b->release();
        return out;
    }

    vek::i_socket_service* svc = nullptr;
    conn* st = new conn();  // referenced in SetUp; announces nothing unless told
    unsigned short port = 0, udp = 0;
    bool accept_them = true;
    std::atomic<int> connections{0}, events{0};
    std::atomic<long long> last_id{0};
    std::vector<int> owned;  // sockets closed after the shut-down

private:
    long m_fds = 0;
    std::mutex m_lock;
    std::vector<vek::i_io_stream*> m_conns;  // referenced
};

}  // namespace net_test

#endif
