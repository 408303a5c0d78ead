// Sockets and streams, each figure beside a baseline from the same run:
// - accept-to-handler latency (connect to on_connection, median and 99th
//   percentile over 2000 connections), beside a bare thread blocked in
//   accept;
// - 256 MiB over one 127.0.0.1 TCP pair: stream reading (bg_task when poll
//   reports data, then get_binary), unbuffered 64 KiB put_binary, buffered
//   64-byte put_text with one flush, beside plain blocking read/write
//   loops; and reading through the registered stream (timeout 0), which
//   shows the stream-watch thread's 100 ms cadence (64 MiB);
// - UDP datagrams per second reaching a counting handler (64 and 1400
//   bytes), beside a bare recvfrom loop fed by the same sender; drops and
//   peak RSS as counters; the same with the sender paced (40 000 a second)
//   so that the bare loop loses nothing;
// - a burst of 100 connects, latency to on_connection, beside a bare
//   thread blocked in accept;
// - resident memory during a 10 s UDP flood against a 2 ms handler.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vek/vek_core.h>

#include "bench_support.h"

namespace {

using clock_type = std::chrono::steady_clock;
const size_t k_total = 256u << 20;

using vek_bench::ensure_library;

vek::i_socket_service* sockets()
{
    static vek::i_socket_service* svc = [] {
        vek::i_object* obj = vek_core()->get_service("svc_socket");
        obj->release();  // the core keeps it alive
        return vek_cast_i_socket_service(obj);
    }();
    return svc;
}

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A bound socket of `type` on 127.0.0.1 and its port.
int bound(int type, unsigned short* port)
{
    int s = socket(AF_INET, type, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof(a);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return s;
}

unsigned short free_port(int type)
{
    unsigned short port = 0;
    close(bound(type, &port));
    return port;
}

// A connected pair: `client` blocking, `server` accepted.
void tcp_pair(int* client, int* server)
{
    unsigned short port = 0;
    int l = bound(SOCK_STREAM, &port);
    listen(l, 1);
    *client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(port);
    connect(*client, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    *server = accept(l, nullptr, nullptr);
    close(l);
}

void report_percentiles(benchmark::State& state, std::vector<double>& us)
{
    std::sort(us.begin(), us.end());
    if (us.empty()) return;
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

// ---- accept latency -------------------------------------------------------

std::atomic<long long> g_accepted{0};
std::atomic<clock_type::rep> g_accept_time{0};

class timing_listener : public vek::tcp_listener {
public:
    bool on_connection(unsigned int, const char*) override
    {
        g_accept_time.store(clock_type::now().time_since_epoch().count());
        g_accepted.fetch_add(1);
        return false;
    }
};

// Connects 2000 times; `seen` waits for the server side to note each.
template <class Wait>
std::vector<double> connect_many(unsigned short port, Wait seen)
{
    std::vector<double> us;
    sockaddr_in a = loopback(port);
    for (int i = 0; i < 2000; ++i) {
        long long before = g_accepted.load();
        int c = socket(AF_INET, SOCK_STREAM, 0);
        auto t0 = clock_type::now();
        connect(c, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        if (!seen(before)) break;
        auto t1 = clock_type::time_point(clock_type::duration(g_accept_time.load()));
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        close(c);
    }
    return us;
}

bool spin_until_next(long long before)
{
    auto deadline = clock_type::now() + std::chrono::seconds(5);
    while (g_accepted.load() == before) {
        if (clock_type::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

void BM_accept_to_handler_vek(benchmark::State& state)
{
    ensure_library();
    timing_listener listener;
    unsigned short port = free_port(SOCK_STREAM);
    listener.init("127.0.0.1", port);
    std::vector<double> us;
    for (auto _ : state) us = connect_many(port, spin_until_next);
    listener.stop();
    report_percentiles(state, us);
}
BENCHMARK(BM_accept_to_handler_vek)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_accept_to_handler_bare_accept(benchmark::State& state)
{
    unsigned short port = 0;
    int l = bound(SOCK_STREAM, &port);
    listen(l, 4096);
    std::atomic<bool> done{false};
    std::thread acceptor([&] {
        while (!done) {
            int s = accept(l, nullptr, nullptr);
            if (s < 0) continue;
            g_accept_time.store(clock_type::now().time_since_epoch().count());
            g_accepted.fetch_add(1);
            close(s);
        }
    });
    std::vector<double> us;
    for (auto _ : state) us = connect_many(port, spin_until_next);
    done = true;
    shutdown(l, SHUT_RDWR);
    acceptor.join();
    close(l);
    report_percentiles(state, us);
}
BENCHMARK(BM_accept_to_handler_bare_accept)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- streams on a TCP pair -----------------------------------------------

class tcp_stream : public vek::i_stream_impl,
                   public vek::i_input_stream_impl,
                   public vek::i_output_stream_impl,
                   public virtual vek::i_io_stream {
public:
    explicit tcp_stream(int s) : m_socket(s) {}
    bool disconnect() override { return true; }
    bool is_connected() override { return true; }
    void start() { start_io(); }
    bool get_interface(const char* name, void** pp) override
    {
        if (std::strcmp(name, "i_input_stream") == 0) {
            *pp = static_cast<vek::i_input_stream*>(this);
            return true;
        }
        return i_stream_impl::get_interface(name, pp);
    }

protected:
    unsigned int read_impl(char* buf, unsigned int size) override
    {
        ssize_t n = recv(m_socket, buf, size, MSG_DONTWAIT);
        return n > 0 ? static_cast<unsigned int>(n) : 0;
    }
    int write_impl(const char* data, unsigned int size) override
    {
        return vek_net_send(m_socket, data, size, 30) ? static_cast<int>(size) : -1;
    }

private:
    int m_socket;
};

// Writes `total` bytes to `s` in 64 KiB blocks.
void write_all(int s, size_t total)
{
    std::vector<char> block(65536, 'w');
    for (size_t done = 0; done < total;) {
        ssize_t n = send(s, block.data(), std::min(block.size(), total - done), MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void read_all(int s, size_t total)
{
    std::vector<char> block(65536);
    for (size_t done = 0; done < total;) {
        ssize_t n = recv(s, block.data(), block.size(), 0);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void BM_stream_read_bg_task(benchmark::State& state)
{
    ensure_library();
    int c, s;
    tcp_pair(&c, &s);
    auto* st = new tcp_stream(s);
    st->addref();
    st->set_in_buffer_timeout(-1);
    for (auto _ : state) {
        std::thread writer(write_all, c, k_total);
        size_t got = 0;
        pollfd p{s, POLLIN, 0};
        while (got < k_total && poll(&p, 1, 5000) > 0) {
            st->bg_task();
            vek::i_binary* b = st->get_binary(0, true);
            got += b->get_data_size();
            b->release();
        }
        writer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k_total));
    st->release();
    close(c);
    close(s);
}
BENCHMARK(BM_stream_read_bg_task)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_stream_read_bare_loop(benchmark::State& state)
{
    int c, s;
    tcp_pair(&c, &s);
    for (auto _ : state) {
        std::thread writer(write_all, c, k_total);
        read_all(s, k_total);
        writer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k_total));
    close(c);
    close(s);
}
BENCHMARK(BM_stream_read_bare_loop)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_stream_write_put_binary_64k(benchmark::State& state)
{
    ensure_library();
    int c, s;
    tcp_pair(&c, &s);
    auto* st = new tcp_stream(s);
    st->addref();
    std::vector<char> block(65536, 'p');
    for (auto _ : state) {
        std::thread reader(read_all, c, k_total);
        for (size_t done = 0; done < k_total; done += block.size()) st->put_binary(block.data(), 65536);
        reader.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k_total));
    st->release();
    close(c);
    close(s);
}
BENCHMARK(BM_stream_write_put_binary_64k)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_stream_write_put_text_64_buffered(benchmark::State& state)
{
    ensure_library();
    int c, s;
    tcp_pair(&c, &s);
    auto* st = new tcp_stream(s);
    st->addref();
    st->set_out_buffer_timeout(3600);
    std::string line(63, 't');
    line += '\n';
    for (auto _ : state) {
        std::thread reader(read_all, c, k_total);
        for (size_t done = 0; done < k_total; done += 64) st->put_text(line.c_str());
        st->flush_out_buffer();
        reader.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k_total));
    st->release();
    close(c);
    close(s);
}
BENCHMARK(BM_stream_write_put_text_64_buffered)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_stream_write_bare_loop(benchmark::State& state)
{
    int c, s;
    tcp_pair(&c, &s);
    for (auto _ : state) {
        std::thread reader(read_all, c, k_total);
        write_all(s, k_total);
        reader.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k_total));
    close(c);
    close(s);
}
BENCHMARK(BM_stream_write_bare_loop)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

class byte_counter : public vek::object {
public:
    std::atomic<size_t> bytes{0};
    bool on_data(vek::i_event* e)
    {
        vek::i_object* obj = e->get_event_object();
        vek::i_input_stream* in = vek_cast_i_input_stream(obj);
        if (in == nullptr) {
            vek_release(obj);
            return true;
        }
        in->lock(5);
        vek::i_binary* b = in->get_binary(0, true);
        bytes += b->get_data_size();
        b->release();
        in->unlock();
        obj->release();
        return true;
    }
};

void BM_stream_read_registered(benchmark::State& state)
{
    ensure_library();
    const size_t total = 64u << 20;
    int c, s;
    tcp_pair(&c, &s);
    auto* st = new tcp_stream(s);
    st->addref();
    st->set_in_buffer_timeout(0);
    byte_counter counter;
    auto fn = static_cast<vek::vek_event_function>(&byte_counter::on_data);
    vek_install_handler("VEK_EVT_STREAM_DATA_AVAIBLE", st->get_id(), &counter, fn);
    st->start();
    for (auto _ : state) {
        std::thread writer(write_all, c, total);
        auto deadline = clock_type::now() + std::chrono::seconds(60);
        while (counter.bytes < total && clock_type::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        writer.join();
    }
    vek_uninstall_handler("VEK_EVT_STREAM_DATA_AVAIBLE", st->get_id(), &counter, fn);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
    st->release();  // the core's list still holds it
    close(c);
}
BENCHMARK(BM_stream_read_registered)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A burst of 100 connects issued back to back; latency from each connect
// to its on_connection (matched by the client's port), median and p99.
std::atomic<clock_type::rep> g_burst_seen[65536];

class burst_listener : public vek::tcp_listener {
public:
    bool on_connection(unsigned int s, const char*) override
    {
        auto now = clock_type::now().time_since_epoch().count();
        sockaddr_in peer{};
        socklen_t len = sizeof(peer);
        getpeername(static_cast<int>(s), reinterpret_cast<sockaddr*>(&peer), &len);
        g_burst_seen[ntohs(peer.sin_port)].store(now);
        g_accepted.fetch_add(1);
        return false;
    }
};

template <class Setup>
void connect_burst(benchmark::State& state, unsigned short port, Setup)
{
    std::vector<double> us;
    sockaddr_in a = loopback(port);
    for (auto _ : state) {
        for (int round = 0; round < 20; ++round) {
            long long before = g_accepted.load();
            std::vector<std::pair<int, clock_type::rep>> sent;
            for (int i = 0; i < 100; ++i) {
                int c = socket(AF_INET, SOCK_STREAM, 0);
                auto t0 = clock_type::now().time_since_epoch().count();
                connect(c, reinterpret_cast<sockaddr*>(&a), sizeof(a));
                sent.emplace_back(c, t0);
            }
            auto deadline = clock_type::now() + std::chrono::seconds(5);
            while (g_accepted.load() < before + 100 && clock_type::now() < deadline) std::this_thread::yield();
            for (auto& c : sent) {
                sockaddr_in me{};
                socklen_t len = sizeof(me);
                getsockname(c.first, reinterpret_cast<sockaddr*>(&me), &len);
                auto seen = g_burst_seen[ntohs(me.sin_port)].exchange(0);
                if (seen != 0) us.push_back(static_cast<double>(seen - c.second) / 1000.0);
                close(c.first);
            }
        }
    }
    report_percentiles(state, us);
}

void BM_accept_burst_vek(benchmark::State& state)
{
    ensure_library();
    burst_listener listener;
    unsigned short port = free_port(SOCK_STREAM);
    listener.init("127.0.0.1", port);
    connect_burst(state, port, 0);
    listener.stop();
}
BENCHMARK(BM_accept_burst_vek)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_accept_burst_bare_accept(benchmark::State& state)
{
    unsigned short port = 0;
    int l = bound(SOCK_STREAM, &port);
    listen(l, 4096);
    std::atomic<bool> done{false};
    std::thread acceptor([&] {
        while (!done) {
            sockaddr_in peer{};
            socklen_t len = sizeof(peer);
            int s = accept(l, reinterpret_cast<sockaddr*>(&peer), &len);
            if (s < 0) continue;
            g_burst_seen[ntohs(peer.sin_port)].store(clock_type::now().time_since_epoch().count());
            g_accepted.fetch_add(1);
            close(s);
        }
    });
    connect_burst(state, port, 0);
    done = true;
    shutdown(l, SHUT_RDWR);
    acceptor.join();
    close(l);
}
BENCHMARK(BM_accept_burst_bare_accept)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- UDP ---------------------------------------------------------------

std::atomic<long long> g_datagrams{0};

class datagram_counter : public vek::object {
public:
    bool on_packet(vek::i_event*)
    {
        g_datagrams.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
};

const long long k_datagrams = 200000;

// Sends k_datagrams of `size` bytes to `port` as fast as the socket allows,
// then reports how many arrived and how fast.
void send_and_count(benchmark::State& state, unsigned short port, size_t size)
{
    g_datagrams = 0;
    int tx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(port);
    std::vector<char> payload(size, 'u');
    auto t0 = clock_type::now();
    for (long long i = 0; i < k_datagrams; ++i) {
        sendto(tx, payload.data(), size, 0, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    }
    // Settled once nothing new came for 200 ms.
    long long last = -1;
    auto t1 = clock_type::now();
    while (g_datagrams.load() != last) {
        last = g_datagrams.load();
        t1 = clock_type::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    close(tx);
    double seconds = std::chrono::duration<double>(t1 - t0).count();
    state.counters["received_per_s"] = static_cast<double>(last) / seconds;
    state.counters["drops"] = static_cast<double>(k_datagrams - last);
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    state.counters["peak_rss_mib"] = static_cast<double>(u.ru_maxrss) / 1024.0;
}

typedef void (*udp_sender)(benchmark::State& state, unsigned short port, size_t size);

// Datagrams from `send` through the socket service to a counting handler.
void udp_through_service(benchmark::State& state, udp_sender send)
{
    ensure_library();
    datagram_counter counter;
    unsigned short port = free_port(SOCK_DGRAM);
    auto fn = static_cast<vek::vek_event_function>(&datagram_counter::on_packet);
    vek_install_handler("VEK_EVT_UDP_PACKET_RECEIVED", port, &counter, fn);
    sockets()->open_udp("127.0.0.1", port);
    for (auto _ : state) send(state, port, static_cast<size_t>(state.range(0)));
    sockets()->close_udp("127.0.0.1", port);
    vek_uninstall_handler("VEK_EVT_UDP_PACKET_RECEIVED", port, &counter, fn);
}

// The same datagrams into a thread blocked in recvfrom.
void udp_through_bare_loop(benchmark::State& state, udp_sender send)
{
    unsigned short port = 0;
    int rx = bound(SOCK_DGRAM, &port);
    timeval tv{0, 100000};
    setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        std::vector<char> buf(65536);
        while (!done) {
            if (recvfrom(rx, buf.data(), buf.size(), 0, nullptr, nullptr) > 0) g_datagrams.fetch_add(1);
        }
    });
    for (auto _ : state) send(state, port, static_cast<size_t>(state.range(0)));
    done = true;
    receiver.join();
    close(rx);
}

void BM_udp_to_handler_vek(benchmark::State& state)
{
    udp_through_service(state, send_and_count);
}
BENCHMARK(BM_udp_to_handler_vek)->Arg(64)->Arg(1400)->Iterations(1)->UseRealTime();

void BM_udp_bare_recvfrom(benchmark::State& state)
{
    udp_through_bare_loop(state, send_and_count);
}
BENCHMARK(BM_udp_bare_recvfrom)->Arg(64)->Arg(1400)->Iterations(1)->UseRealTime();

// Paced senders: `rate` datagrams a second for one second, in bursts of 10
// every 10/rate seconds; the share that reached the handler.
const int k_paced_rate = 40000;

void send_paced(benchmark::State& state, unsigned short port, size_t size)
{
    g_datagrams = 0;
    int tx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(port);
    std::vector<char> payload(size, 'p');
    const int rate = k_paced_rate;
    auto period = std::chrono::nanoseconds(1000000000LL * 10 / rate);
    auto next = clock_type::now();
    for (int i = 0; i < rate; i += 10) {
        for (int k = 0; k < 10; ++k) sendto(tx, payload.data(), size, 0, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        next += period;
        std::this_thread::sleep_until(next);
    }
    long long last = -1;
    while (g_datagrams.load() != last) {
        last = g_datagrams.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    close(tx);
    state.counters["received_share"] = static_cast<double>(last) / rate;
}

void BM_udp_paced_vek(benchmark::State& state)
{
    udp_through_service(state, send_paced);
}
BENCHMARK(BM_udp_paced_vek)->Arg(64)->Arg(1400)->Iterations(1)->UseRealTime();

void BM_udp_paced_bare_recvfrom(benchmark::State& state)
{
    udp_through_bare_loop(state, send_paced);
}
BENCHMARK(BM_udp_paced_bare_recvfrom)->Arg(64)->Arg(1400)->Iterations(1)->UseRealTime();

// Resident memory now, in MiB (from /proc/self/statm).
double rss_mib()
{
    long pages = 0, resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(f);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

class slow_counter : public vek::object {
public:
    bool on_packet(vek::i_event*)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        g_datagrams.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
};

// A sender as fast as it can for 10 s against a handler that takes 2 ms;
// resident memory before, after the first second and at the end.
void BM_udp_flood_memory(benchmark::State& state)
{
    ensure_library();
    slow_counter counter;
    unsigned short port = free_port(SOCK_DGRAM);
    auto fn = static_cast<vek::vek_event_function>(&slow_counter::on_packet);
    vek_install_handler("VEK_EVT_UDP_PACKET_RECEIVED", port, &counter, fn);
    sockets()->open_udp("127.0.0.1", port);
    double before = rss_mib(), at_1s = 0, peak = 0;
    long long sent = 0;
    for (auto _ : state) {
        g_datagrams = 0;
        int tx = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = loopback(port);
        std::vector<char> payload(static_cast<size_t>(state.range(0)), 'f');
        auto t0 = clock_type::now();
        auto sample = t0 + std::chrono::milliseconds(100);
        while (clock_type::now() - t0 < std::chrono::seconds(10)) {
            sendto(tx, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof(a));
            ++sent;
            if (clock_type::now() >= sample) {
                sample += std::chrono::milliseconds(100);
                double now = rss_mib();
                peak = std::max(peak, now);
                if (at_1s == 0 && clock_type::now() - t0 >= std::chrono::seconds(1)) at_1s = now;
            }
        }
        close(tx);
    }
    state.counters["rss_before_mib"] = before;
    state.counters["rss_after_1s_mib"] = at_1s;
    state.counters["rss_peak_mib"] = peak;
    state.counters["rss_end_mib"] = rss_mib();
    state.counters["sent"] = static_cast<double>(sent);
    state.counters["handled"] = static_cast<double>(g_datagrams.load());
    sockets()->close_udp("127.0.0.1", port);
    vek_uninstall_handler("VEK_EVT_UDP_PACKET_RECEIVED", port, &counter, fn);
    // Queued datagrams still reach the counter; let them drain.
    std::this_thread::sleep_for(std::chrono::seconds(3));
}
BENCHMARK(BM_udp_flood_memory)->Arg(1400)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
