// Datagrams through the socket service and answers through udp_conn.
#include <set>

#include "net_support.h"

namespace {

using vek_test::wait_for;

class UdpTest : public net_test::NetTest {};

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
