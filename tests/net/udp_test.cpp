// Datagrams through the socket service and answers through udp_conn.
#include <condition_variable>
#include <set>

#include "net_support.h"

namespace {

using vek_test::wait_for;

class UdpTest : public net_test::NetTest {};

// Counts the datagram events it is given; holds each while `hold` is set.
class gate : public vek::object {
public:
    bool on_packet(vek::i_event*)
    {
        std::unique_lock<std::mutex> lock(m);
        ++entered;
        opened.wait(lock, [this] { return !hold; });
        ++done;
        return false;
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m);
        hold = false;
        opened.notify_all();
    }
    int count(const int& n)
    {
        std::lock_guard<std::mutex> lock(m);
        return n;
    }

    std::mutex m;
    std::condition_variable opened;
    bool hold = true;
    int entered = 0, done = 0;
};

// With a small backlog per source. The gates outlive the library.
class UdpBacklogTest : public net_test::NetTest {
protected:
    void SetUp() override
    {
        setenv("VEK_MAX_QUEUED_EVENTS", "8", 1);
        NetTest::SetUp();
    }
    vek_test::env_guard env{{"VEK_MAX_QUEUED_EVENTS"}};
    gate stuck, marker;
};

// Empty datagrams are counted, not delivered; the others are one event
// each, whole up to the largest an IPv4 datagram holds.
TEST_F(UdpTest, DatagramsArriveOnceEachAndWholeAndAnswersLeaveFromThePort)
{
    // The service receives on `udp`; `client` is connected to it, so it
    // takes only datagrams that come from that port.
    ASSERT_TRUE(svc->open_udp("127.0.0.1", udp));
    int client = owned.emplace_back(connect_to(udp, SOCK_DGRAM));
    auto send_dg = [&](const std::string& data) { send(client, data.data(), data.size(), 0); };
    auto answer = [&] {  // the next datagram the client receives ("" after the deadline)
        std::string buf(70000, '\0');
        ssize_t n = recv(client, &buf[0], buf.size(), 0);
        return buf.substr(0, n > 0 ? static_cast<size_t>(n) : 0);
    };
    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    send_dg("");
    send_dg("");
    std::multiset<std::string> got, sent;
    for (size_t i = 0; i < 200; ++i) send_dg(*sent.insert("#" + std::to_string(i) + std::string(i, 'x')));
    ASSERT_TRUE(wait_for([&] { return taken(199) != nullptr; }));
    send_dg(*sent.insert(std::string(65507, 'w')));
    ASSERT_TRUE(wait_for([&] { return taken(200) != nullptr; }));
    vek_enable_trace(false);
    std::string trace = testing::internal::GetCapturedStdout();
    std::string line = "socket_service: dropped 1 empty datagram(s) on port " + std::to_string(udp) + " (1 in all)";
    EXPECT_NE(trace.find(line), std::string::npos) << trace;
    EXPECT_NE(svc->get_port_socket(udp), -1);
    for (size_t i = 0; i < 201; ++i) got.insert(take(taken(i)->get_binary(0, false)));
    EXPECT_TRUE(got == sent) << got.size();  // each once and whole
    EXPECT_EQ(taken(201), nullptr);

    vek::i_udp_conn* c = vek_cast_i_udp_conn(taken(0));
    EXPECT_EQ(c->get_port(), udp);
    EXPECT_STREQ(c->get_host(), "127.0.0.1");
    EXPECT_NE(c->get_client_port(), 0);
    EXPECT_TRUE(wait_for([&] { return vek_test::count_of(c) == 1; }));  // the event goes after the handler
    // 65508 bytes cannot be one IPv4 datagram; the port works on.
    std::string big(65508, 'b');
    EXPECT_FALSE(c->put_binary(big.data(), big.size()));
    EXPECT_TRUE(c->put_text("ok"));
    EXPECT_EQ(answer(), "ok");
    // Without the service's socket the answer still comes from the port.
    ASSERT_TRUE(svc->close_udp("127.0.0.1", udp));
    EXPECT_TRUE(c->put_text("fallback"));
    EXPECT_EQ(answer(), "fallback");
    c->disconnect();
    EXPECT_FALSE(c->put_text("ok"));
}

}  // namespace

namespace {

// Datagrams sent to a port whose handlers are stuck fill only that port's
// backlog: the newest are dropped and traced, and another port goes on.
TEST_F(UdpBacklogTest, AFullPortDropsItsNewestDatagramsWhileOtherPortsGoOn)
{
    marker.hold = false;
    auto cb = static_cast<vek::vek_event_function>(&gate::on_packet);
    unsigned short other = free_port(SOCK_DGRAM);
    vek_install_handler("VEK_EVT_UDP_PACKET_RECEIVED", udp, &stuck, cb);
    vek_install_handler("VEK_EVT_UDP_PACKET_RECEIVED", other, &marker, cb);
    // Opened in this order, `udp` is drained before `other` in each pass.
    ASSERT_TRUE(svc->open_udp("127.0.0.1", udp));
    ASSERT_TRUE(svc->open_udp("127.0.0.1", other));
    int client = owned.emplace_back(connect_to(udp, SOCK_DGRAM));
    int client2 = owned.emplace_back(connect_to(other, SOCK_DGRAM));
    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 200; ++i) send(client, "x", 1, 0);
    send(client2, "m", 1, 0);
    EXPECT_TRUE(wait_for([&] { return marker.count(marker.done) == 1; }));
    vek_enable_trace(false);
    std::string trace = testing::internal::GetCapturedStdout();
    std::string line =
        "event_proc: backlog full, dropped 1 event(s) from UDP port " + std::to_string(udp) + " (1 in all)";
    EXPECT_NE(trace.find(line), std::string::npos) << trace;

    stuck.open();
    send(client2, "m", 1, 0);  // queued behind whatever `udp` still had waiting
    EXPECT_TRUE(wait_for([&] { return marker.count(marker.done) == 2; }));
    EXPECT_TRUE(wait_for([&] { return stuck.count(stuck.done) == stuck.count(stuck.entered); }));
    EXPECT_GE(stuck.count(stuck.done), 8);
    EXPECT_LT(stuck.count(stuck.done), 200);
}

}  // namespace
