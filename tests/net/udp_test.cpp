// Datagrams through the socket service and answers through udp_conn.
#include <set>

#include "net_support.h"

namespace {

using vek_test::wait_for;

// The service receives on `udp`; `client` is connected to it, so it takes
// only datagrams that come from that port.
class UdpTest : public net_test::NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        udp = free_port(SOCK_DGRAM);
        vek_install_handler("VEK_EVT_UDP_PACKET_RECEIVED", udp, this,
                            static_cast<vek::vek_event_function>(&UdpTest::on_packet));
        ASSERT_TRUE(svc->open_udp("127.0.0.1", udp));
        owned.push_back(client = connect_to(udp, SOCK_DGRAM));
    }
    void send_dg(const std::string& data) { send(client, data.data(), data.size(), 0); }
    // The next datagram the client receives ("" after the deadline).
    std::string answer()
    {
        std::string buf(70000, '\0');
        ssize_t n = recv(client, &buf[0], buf.size(), 0);
        return buf.substr(0, n > 0 ? static_cast<size_t>(n) : 0);
    }
    int client = -1;
};

TEST_F(UdpTest, ADatagramIsOneEventAndTheAnswerLeavesFromThePort)
{
    send_dg("abc");
    ASSERT_TRUE(wait_for([&] { return taken(0) != nullptr; }));
    vek::i_udp_conn* c = vek_cast_i_udp_conn(taken(0));
    EXPECT_EQ(c->get_in_buffer_size(), 3u);
    EXPECT_EQ(c->get_port(), udp);
    EXPECT_STREQ(c->get_host(), "127.0.0.1");
    EXPECT_NE(c->get_client_port(), 0);
    EXPECT_NE(vek_cast_i_inet_stream(c), nullptr);
    EXPECT_NE(vek_cast_i_stream(c), nullptr);
    EXPECT_TRUE(wait_for([&] { return vek_test::count_of(c) == 1; }));  // the event goes after the handler

    EXPECT_TRUE(c->put_text("ok"));
    EXPECT_EQ(answer(), "ok");
    // 65508 bytes cannot be one IPv4 datagram; the port works on.
    std::string big(65508, 'b');
    EXPECT_FALSE(c->put_binary(big.data(), big.size()));
    EXPECT_TRUE(c->put_binary(big.data(), 65507));
    EXPECT_EQ(answer().size(), 65507u);
    // Without the service's socket the answer still comes from the port.
    ASSERT_TRUE(svc->close_udp("127.0.0.1", udp));
    EXPECT_TRUE(c->put_text("fallback"));
    EXPECT_EQ(answer(), "fallback");
    c->disconnect();
    EXPECT_FALSE(c->put_text("ok"));
}

TEST_F(UdpTest, DatagramsArriveOnceEachAndWholeAndEmptyOnesAreCounted)
{
    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    send_dg("");
    send_dg("");
    for (size_t i = 0; i < 200; ++i) send_dg("#" + std::to_string(i) + std::string(i, 'x'));
    ASSERT_TRUE(wait_for([&] { return taken(199) != nullptr; }));
    send_dg(std::string(65507, 'w'));
    ASSERT_TRUE(wait_for([&] { return taken(200) != nullptr; }));
    vek_enable_trace(false);
    std::string trace = testing::internal::GetCapturedStdout();
    std::string line = "socket_service: dropped 1 empty datagram(s) on port " + std::to_string(udp) + " (1 in all)";
    EXPECT_NE(trace.find(line), std::string::npos) << trace;
    EXPECT_NE(svc->get_port_socket(udp), -1);
    std::multiset<std::string> got, sent{std::string(65507, 'w')};
    for (size_t i = 0; i < 200; ++i) sent.insert("#" + std::to_string(i) + std::string(i, 'x'));
    for (size_t i = 0; i < 201; ++i) got.insert(take(taken(i)->get_binary(0, false)));
    EXPECT_TRUE(got == sent) << got.size();  // each once and whole
    EXPECT_EQ(taken(201), nullptr);
}

// A flood on the UDP port must neither starve accepts nor hold up the
// shut-down.
TEST_F(UdpTest, AFloodStarvesNeitherAcceptsNorTerminate)
{
    accept_them = false;
    ASSERT_TRUE(init("127.0.0.1", port));
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        while (flooding) send_dg("flood");
    });
    auto start = std::chrono::steady_clock::now();
    // 50: at one accept per pass, enough to show no starvation, and done in
    // time by a sanitizer build on a loaded machine.
    for (int i = 0; i < 50; ++i) close(connect_to(port));
    EXPECT_TRUE(wait_for([&] { return connections == 50; }, 10000)) << connections;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    stop();
    start = std::chrono::steady_clock::now();
    shut_down();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    flooding = false;
    flood.join();
    EXPECT_NE(taken(0), nullptr);
}

}  // namespace
