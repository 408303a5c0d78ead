// The HTTP module loaded into a core: routes answered by Tcl and C++
// handlers on its worker threads, limits, connections and shutdown.
#include <algorithm>
#include <stdexcept>
#include <thread>

#include "http/http_client.h"
#include "script/script_support.h"
#include "vek/http.h"

namespace {

using namespace vek_test;

// The status line and the body of a GET answered on its own connection.
std::string get(int port, const std::string& target, const std::string& headers = "")
{
    std::string r = talk(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers + "\r\n");
    size_t end = r.find("\r\n"), body = r.find("\r\n\r\n");
    return end == std::string::npos ? r
                                    : r.substr(0, end) + "|" + (body == std::string::npos ? "" : r.substr(body + 4));
}

// The value of a header in a whole answer ("" without it).
std::string header_of(const std::string& answer, const std::string& name)
{
    size_t at = answer.find("\r\n" + name + ": ");
    if (at == std::string::npos || at > answer.find("\r\n\r\n")) return "";
    at += name.size() + 4;
    return answer.substr(at, answer.find("\r\n", at) - at);
}

class HttpTest : public vek_test::script_test {
protected:
    void SetUp() override
    {
        script_test::SetUp();
        setenv("VEK_HTTP_PORT", std::to_string(port).c_str(), 1);
        setenv("VEK_HTTP_MAX_HEADER", "4096", 1);
        setenv("VEK_HTTP_MAX_BODY", "100", 1);
        setenv("VEK_HTTP_REQUEST_TIMEOUT", "1", 1);
        vek_set_log_level(1);  // access lines
        ASSERT_NE(vek_core()->load_library(VEK_HTTP_SO), nullptr);
        take_engine();
        write("handlers.tcl", R"(
            proc hello {r} { return "hello [$r method] [$r path] [$r query q] [$r param id] [$r lang]" }
            proc echo {r} {
                $r set_header X-Seen [$r header X-Test]
                $r respond 201 "[$r form a]|[$r form b]|[$r cookie c]|[$r body]" text/plain
            }
            proc away {r} { $r redirect /there 301 }
            proc boom {r} { $r respond 200 partial; error "no stock" }
            proc send {r} { $r file [$r query f]; if {[$r query fail] ne ""} { error "after the file" } })");
        ASSERT_TRUE(e->execute_text(("vek_http::handlers {" + (root / "handlers.tcl").string() + "}").c_str()))
            << e->get_error();
        ASSERT_TRUE(
            e->execute_text("vek_http::route GET /hello hello; vek_http::route * /item/:id hello;"
                            "vek_http::route GET /static/* hello; vek_http::route POST /echo echo;"
                            "vek_http::route GET /away away; vek_http::route GET /boom boom; vek_http::route GET /send send"))
            << e->get_error();
    }
    vek_test::env_guard m_http_env{"VEK_HTTP_PORT", "VEK_HTTP_MAX_HEADER", "VEK_HTTP_MAX_BODY", "VEK_HTTP_THREADS",
                                   "VEK_HTTP_REQUEST_TIMEOUT"};
    const int port = free_port();
};

TEST_F(HttpTest, TclHandlersReadTheRequestAndAnswerOrFailWithA500)
{
    const std::pair<std::string, std::string> rows[] = {
        {"/hello?q=a%20b", "HTTP/1.1 200 OK|hello GET /hello a b  "},
        {"/item/42", "HTTP/1.1 200 OK|hello GET /item/42  42 "},
        {"/static/a/b.css", "HTTP/1.1 200 OK|hello GET /static/a/b.css   "},
        {"/item/", "HTTP/1.1 404 Not Found|Not Found\n"},
        {"/echo", "HTTP/1.1 405 Method Not Allowed|Method Not Allowed\n"},
        {"/boom", "HTTP/1.1 500 Internal Server Error|Internal Server Error\n"},
        {"/hello", "HTTP/1.1 200 OK|hello GET /hello   "},  // the worker's engine was rebuilt
    };
    for (const auto& [target, answer] : rows) EXPECT_EQ(get(port, target), answer) << target;
    EXPECT_EQ(get(port, "/hello", "Accept-Language: en;q=0.5, DE-ch, fr;q=0.9\r\n"),
              "HTTP/1.1 200 OK|hello GET /hello   de");

    std::string posted = talk(port,
                              "POST /echo HTTP/1.1\r\nHost: x\r\nConnection: close\r\nX-Test: t1\r\nCookie: c=v\r\n"
                              "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 14\r\n\r\n"
                              "a=1+2&b=%C3%A9");
    EXPECT_EQ(posted.substr(0, posted.find("\r\n")), "HTTP/1.1 201 Created");
    EXPECT_NE(posted.find("\r\nX-Seen: t1\r\n"), std::string::npos) << posted;
    EXPECT_NE(posted.find("\r\nContent-Type: text/plain\r\n"), std::string::npos) << posted;
    EXPECT_EQ(posted.substr(posted.find("\r\n\r\n") + 4), "1 2|\xC3\xA9|v|a=1+2&b=%C3%A9");
    std::string moved = talk(port, "GET /away HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(moved.rfind("HTTP/1.1 301 Moved Permanently\r\n", 0), 0u) << moved;
    EXPECT_NE(moved.find("\r\nLocation: /there\r\n"), std::string::npos);
    EXPECT_NE(talk(port, "DELETE /echo HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").find("\r\nAllow: POST\r\n"),
              std::string::npos);

    // One access line per request; the handler's error is logged whole.
    lines log = fresh("log.txt");
    auto count = [&](const std::string& prefix) {
        return std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(count("vek_http: 127.0.0.1 \""), 11) << log.size();
    EXPECT_EQ(count("vek_http: 127.0.0.1 \"GET /boom\" 500 22 "), 1);
    EXPECT_EQ(count("vek_http: GET /boom: no stock"), 1);
}

bool answer_c(vek::http_request* r, void*)
{
    std::string text = std::string(r->query("x")) + "|" + r->header("host");
    r->respond(200, text.data(), text.size(), "text/plain");
    return true;
}

TEST_F(HttpTest, CppHandlersLimitsPipelinedRequestsAndManyClientsAtOnce)
{
    ASSERT_TRUE(vek_http_route("GET", "/c", answer_c, nullptr));
    ASSERT_TRUE(vek_http_route(
        "GET", "/false", [](vek::http_request*, void*) { return false; }, nullptr));
    ASSERT_TRUE(vek_http_route(
        "GET", "/throw", [](vek::http_request*, void*) -> bool { throw std::runtime_error("bad"); }, nullptr));
    EXPECT_FALSE(vek_http_route("GET", "no-slash", answer_c, nullptr) ||
                 vek_http_route(nullptr, "/", answer_c, nullptr));
    EXPECT_EQ(get(port, "/false"), "HTTP/1.1 500 Internal Server Error|Internal Server Error\n");
    EXPECT_EQ(get(port, "/throw"), "HTTP/1.1 500 Internal Server Error|Internal Server Error\n");
    EXPECT_EQ(get(port, "/c?x=1", "X-Big: " + std::string(5000, 'b') + "\r\n").substr(0, 13), "HTTP/1.1 431 ");
    std::string big =
        talk(port, "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 101\r\n\r\n" + std::string(101, 'b'));
    EXPECT_EQ(big.substr(0, big.find("\r\n")), "HTTP/1.1 413 Content Too Large");
    lines log = fresh("log.txt");
    EXPECT_NE(std::find(log.begin(), log.end(), "vek_http: GET /throw: the handler threw: bad"), log.end());

    // Two requests in one write come back in order on the kept connection.
    std::string both = talk(port,
                            "GET /c?x=1 HTTP/1.1\r\nHost: a\r\n\r\nGET /c?x=2 HTTP/1.1\r\nHost: b\r\n"
                            "Connection: close\r\n\r\n");
    size_t first = both.find("\r\n\r\n1|a"), second = both.find("\r\n\r\n2|b");
    EXPECT_TRUE(first != std::string::npos && second != std::string::npos && first < second) << both;

    // A client that never finishes its request holds nobody up; 200
    // clients at once all get their answer.
    int slow = connect_to(port);
    send(slow, "GET /c HTTP/1.1\r\nHost:", 22, MSG_NOSIGNAL);
    std::atomic<int> right{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 200; ++i)
        clients.emplace_back([&, i] {
            right += get(port, "/c?x=" + std::to_string(i)) == "HTTP/1.1 200 OK|" + std::to_string(i) + "|x";
        });
    for (auto& t : clients) t.join();
    EXPECT_EQ(right, 200);
    auto_ptr_t<vek::i_xml_node> status = vek_get_status();
    auto_ptr_t<vek::i_xml_node> http = status->select_single_node("http");
    ASSERT_TRUE(http.is_ok());
    EXPECT_GE(std::atoi(http->get_attribute("requests")), 204);
    EXPECT_GE(std::atoi(http->get_attribute("connections")), 1);  // the slow one
    // Each worker's counts add up to the server's.
    auto_ptr_t<vek::i_object_col> per_worker = http->select_nodes("worker");
    ASSERT_TRUE(per_worker.is_ok());
    long requests = 0, connections = 0;
    for (unsigned int i = 0; i < per_worker->get_count(); ++i) {
        vek::i_xml_node* w = vek_cast_i_xml_node(auto_ptr_t<vek::i_object>(per_worker->get_item_by_pos(i)));
        requests += std::atol(w->get_attribute("requests"));
        connections += std::atol(w->get_attribute("connections"));
    }
    EXPECT_EQ(per_worker->get_count(), 2u);
    EXPECT_EQ(requests, std::atol(http->get_attribute("requests")));
    EXPECT_EQ(connections, std::atol(http->get_attribute("connections")));
    auto_ptr_t<vek::i_object_col> threads = status->select_nodes("threads/thread");
    int workers = 0;
    for (unsigned int i = 0; threads.is_ok() && i < threads->get_count(); ++i)
        workers +=
            std::string(
                vek_cast_i_xml_node(auto_ptr_t<vek::i_object>(threads->get_item_by_pos(i)))->get_attribute("role")) ==
            "http worker";
    EXPECT_EQ(workers, 2);
    // Sending a byte now and then does not stretch the request timeout.
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        send(slow, "x", 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        gone = ended(slow);
    }
    EXPECT_TRUE(gone);
    close(slow);
    log = fresh("log.txt");
    EXPECT_NE(std::find(log.begin(), log.end(), "vek_http: closed 1 connection(s) that sent no whole request in 1 s"),
              log.end());
}

TEST_F(HttpTest, StaticFilesCarryTypesValidatorsAndRangesAndNeverLeaveTheirDirectory)
{
    write("www/a.css", "body{}");
    write("www/d/index.html", "<p>i</p>");
    write("secret.txt", "s");
    ASSERT_EQ(symlink((root / "secret.txt").c_str(), (root / "www/out.txt").c_str()), 0);
    ASSERT_TRUE(e->execute_text(("vek_http::static /s {" + (root / "www").string() + "}").c_str()));
    auto ask = [&](const std::string& line, const std::string& headers = "") {
        return talk(port, line + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers + "\r\n");
    };
    std::string css = ask("GET /s/a.css");
    EXPECT_EQ(css.substr(0, css.find("\r\n")) + "|" + header_of(css, "Content-Type") + "|" + header_of(css, "ETag") +
                  "|" + header_of(css, "Last-Modified") + "|" + css.substr(css.find("\r\n\r\n") + 4),
              "HTTP/1.1 200 OK|text/css; charset=utf-8|\"6-38d7ea4c68000\"|Mon, 12 Jan 1970 13:46:40 GMT|body{}");
    const std::pair<std::string, std::string> rows[] = {
        // request headers, status line | Content-Range | body
        {"If-None-Match: \"6-38d7ea4c68000\"\r\n", "HTTP/1.1 304 Not Modified||"},
        {"If-Modified-Since: Mon, 12 Jan 1970 13:46:40 GMT\r\n", "HTTP/1.1 304 Not Modified||"},
        {"If-Modified-Since: Mon, 12 Jan 1970 13:46:39 GMT\r\n", "HTTP/1.1 200 OK||body{}"},
        {"Range: bytes=1-2\r\n", "HTTP/1.1 206 Partial Content|bytes 1-2/6|od"},
        {"Range: bytes=-2\r\n", "HTTP/1.1 206 Partial Content|bytes 4-5/6|{}"},
        {"Range: bytes=9-\r\n", "HTTP/1.1 416 Range Not Satisfiable|bytes */6|"},
    };
    for (const auto& [headers, want] : rows) {
        std::string got = ask("GET /s/a.css", headers);
        EXPECT_EQ(got.substr(0, got.find("\r\n")) + "|" + header_of(got, "Content-Range") + "|" +
                      got.substr(got.find("\r\n\r\n") + 4),
                  want)
            << headers;
    }
    // Past 64 KB a file goes out from its descriptor rather than a copy.
    write("www/big.bin", std::string(70000, 'b') + "end");
    std::string big = ask("GET /s/big.bin");
    EXPECT_EQ(header_of(big, "Content-Length") + big.substr(big.size() - 4), "70003bend");
    std::string head = ask("HEAD /s/a.css");
    EXPECT_EQ(header_of(head, "Content-Length") + "|" + head.substr(head.find("\r\n\r\n") + 4), "6|");
    EXPECT_EQ(get(port, "/s/d/"), "HTTP/1.1 200 OK|<p>i</p>");
    // A kept copy serves only while the path still leads to the same file.
    for (int i = 0; i < 4; ++i) ask("GET /s/a.css");  // kept by both workers
    write("www/a.css", "p{}");
    EXPECT_EQ(get(port, "/s/a.css"), "HTTP/1.1 200 OK|p{}");
    std::filesystem::remove(root / "www/a.css");
    ASSERT_EQ(symlink((root / "secret.txt").c_str(), (root / "www/a.css").c_str()), 0);
    EXPECT_EQ(get(port, "/s/a.css"), "HTTP/1.1 404 Not Found|Not Found\n");
    for (const char* out : {"/s/../secret.txt", "/s/..%2Fsecret.txt", "/s/%2e%2e/secret.txt", "/s/..%5Csecret.txt",
                            "/s/out.txt", "/s/none.css"})
        EXPECT_EQ(get(port, out), "HTTP/1.1 404 Not Found|Not Found\n") << out;

    // A handler may answer with any file; an error after that closes it
    // (past 64 KB it is answered from its descriptor).
    EXPECT_EQ(get(port, "/send?f=" + (root / "secret.txt").string()), "HTTP/1.1 200 OK|s");
    const std::string send = "/send?f=" + (root / "www/big.bin").string();
    EXPECT_EQ(get(port, "/send?f=" + (root / "none").string()), get(port, send + "&fail=1"));
    auto open_fds = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
    };
    const auto before = open_fds();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(get(port, send + "&fail=1").substr(0, 12), "HTTP/1.1 500");
    EXPECT_LT(open_fds() - before, 5);
}

// Ends the fixture's core early: what it holds goes first.
TEST_F(HttpTest, ShutdownClosesOpenConnectionsAndBadSettingsFailTheLoad)
{
    int idle = connect_to(port), partial = connect_to(port);
    ASSERT_TRUE(idle >= 0 && partial >= 0);
    send(partial, "GET /c HTTP/1.1\r\n", 17, MSG_NOSIGNAL);
    vek_release(e);
    vek_release(enc);
    vek_release(svc);
    e = nullptr, enc = nullptr, svc = nullptr;
    vek_terminate();  // returns after the connections are closed
    EXPECT_TRUE(ended(idle) && ended(partial));
    close(idle), close(partial);
    EXPECT_EQ(connect_to(port), -1);

    int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(taken, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    listen(taken, 1);
    const std::pair<std::string, std::string> rows[] = {
        {"99999", "vek_http: VEK_HTTP_PORT='99999' is not a number from 0 to 65535"},
        {std::to_string(port), "vek_http: cannot listen on 127.0.0.1:" + std::to_string(port) + ": "}};
    for (const auto& [value, line] : rows) {
        ASSERT_TRUE(vek_initialize());
        ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);
        fresh("log.txt");
        setenv("VEK_HTTP_PORT", value.c_str(), 1);
        EXPECT_EQ(vek_core()->load_library(VEK_HTTP_SO), nullptr);
        lines log = fresh("log.txt");
        EXPECT_TRUE(!log.empty() && log[0].rfind(line, 0) == 0) << (log.empty() ? "" : log[0]);
        vek_terminate();
    }
    close(taken);
}

}  // namespace
