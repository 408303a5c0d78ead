// Event delivery, each figure beside a baseline from the same run:
// - immediate delivery to 1, 8 and 100 handlers, beside the same number of
//   direct virtual calls, each with an addref and a release of the event
//   around it (what any dispatcher that keeps the event alive does);
// - queued delivery: latency from fire_event(e, false) to the handler
//   (median and 99th percentile over 10 000 events, one at a time, and
//   from four threads firing at a steady rate), throughput from one and
//   from four firing threads with the process's peak thread count, and
//   the delay of events fired while other handlers sleep for a second;
// - vek_bg_thread hand-over, beside std::thread create+join and a plain
//   mutex + condition-variable hand-off.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <vek/vek_core.h>

#include "bench_support.h"

namespace {

using clock_type = std::chrono::steady_clock;

class sink : public vek::object {
public:
    std::atomic<long long> calls{0};
    std::atomic<clock_type::rep> last{0};
    bool on_event(vek::i_event*)
    {
        calls.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    bool on_timed(vek::i_event*)
    {
        last.store(clock_type::now().time_since_epoch().count(), std::memory_order_release);
        calls.fetch_add(1, std::memory_order_release);
        return true;
    }
};

using vek_bench::ensure_library;

vek::i_event_proc* event_service()
{
    static vek::i_event_proc* proc = [] {
        vek::i_object* svc = vek_core()->get_service("svc_event");
        vek::i_event_proc* p = vek_cast_i_event_proc(svc);
        svc->release();  // the core keeps it alive
        return p;
    }();
    return proc;
}

void BM_immediate_delivery(benchmark::State& state)
{
    ensure_library();
    vek::i_event_proc* proc = event_service();
    unsigned int type = proc->get_event_type("BENCH_IMMEDIATE");
    std::vector<sink> sinks(static_cast<std::size_t>(state.range(0)));
    auto cb = static_cast<vek::vek_event_function>(&sink::on_event);
    for (auto& s : sinks) proc->install_handler(type, 0, &s, cb);
    vek::event* e = new vek::event(type, 0, nullptr);
    e->addref();
    for (auto _ : state) proc->fire_event(e, true);
    for (auto& s : sinks) proc->uninstall_handler(type, 0, &s, cb);
    proc->fire_event(e, true);  // applies the uninstalls
    e->release();
}
BENCHMARK(BM_immediate_delivery)->Arg(1)->Arg(8)->Arg(100);

}  // namespace

// Outside the anonymous namespace, so the compiler cannot prove that
// direct_sink is the only handler and turn the virtual call into a direct
// one.
namespace events_bench {

class direct_handler {
public:
    virtual ~direct_handler() = default;
    virtual bool handle(vek::i_event* e) = 0;
};

class direct_sink : public direct_handler {
public:
    std::atomic<long long> calls{0};
    __attribute__((noinline)) bool handle(vek::i_event*) override
    {
        calls.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
};

}  // namespace events_bench

namespace {

using events_bench::direct_handler;
using events_bench::direct_sink;

void BM_direct_virtual_calls(benchmark::State& state)
{
    std::vector<direct_sink> sinks(static_cast<std::size_t>(state.range(0)));
    std::vector<direct_handler*> calls;
    for (auto& s : sinks) calls.push_back(&s);
    vek::i_event* e = new vek::event();
    e->addref();
    for (auto _ : state) {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
            e->addref();
            bool go_on = (*it)->handle(e);
            e->release();
            if (!go_on) break;
        }
    }
    e->release();
}
BENCHMARK(BM_direct_virtual_calls)->Arg(1)->Arg(8)->Arg(100);

// Fires one queued event at a time and waits for its handler, recording
// the latency; reports the median and the 99th percentile.
void BM_queued_latency(benchmark::State& state)
{
    ensure_library();
    vek::i_event_proc* proc = event_service();
    unsigned int type = proc->get_event_type("BENCH_QUEUED");
    sink s;
    auto cb = static_cast<vek::vek_event_function>(&sink::on_timed);
    proc->install_handler(type, 0, &s, cb);
    std::vector<double> micros;
    for (auto _ : state) {
        micros.clear();
        for (int i = 0; i < 10000; ++i) {
            long long before = s.calls.load(std::memory_order_acquire);
            vek::event* e = new vek::event(type, 0, nullptr);
            e->addref();
            auto t0 = clock_type::now();
            proc->fire_event(e, false);
            e->release();
            while (s.calls.load(std::memory_order_acquire) == before) std::this_thread::yield();
            auto t1 = clock_type::time_point(clock_type::duration(s.last.load(std::memory_order_acquire)));
            micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    proc->uninstall_handler(type, 0, &s, cb);
}
BENCHMARK(BM_queued_latency)->Iterations(1)->Unit(benchmark::kMillisecond);

// Threads in this process, from /proc/self/status.
int process_threads()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    int n = -1;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::sscanf(line, "Threads: %d", &n) == 1) break;
    }
    std::fclose(f);
    return n;
}

void fire_queued(vek::i_event_proc* proc, unsigned int type, long long id)
{
    vek::event* e = new vek::event(type, id, nullptr);
    e->addref();
    proc->fire_event(e, false);
    e->release();
}

// Items per second from state.range(0) firing threads, 10 000 events each
// round; the peak thread count of the process as a counter.
void BM_queued_throughput(benchmark::State& state)
{
    ensure_library();
    vek::i_event_proc* proc = event_service();
    unsigned int type = proc->get_event_type("BENCH_THROUGHPUT");
    sink s;
    auto cb = static_cast<vek::vek_event_function>(&sink::on_event);
    proc->install_handler(type, 0, &s, cb);
    const int batch = 10000;
    const int firers = static_cast<int>(state.range(0));
    int peak = 0;
    for (auto _ : state) {
        long long target = s.calls.load() + batch;
        std::vector<std::thread> threads;
        for (int t = 0; t < firers; ++t) {
            threads.emplace_back([&, t] {
                for (int i = t; i < batch; i += firers) fire_queued(proc, type, 0);
            });
        }
        while (s.calls.load() < target) {
            peak = std::max(peak, process_threads());
            std::this_thread::yield();
        }
        for (auto& th : threads) th.join();
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["peak_threads"] = peak;
    state.counters["library_threads"] = peak - 1 - firers;  // without main and the firing threads
    proc->uninstall_handler(type, 0, &s, cb);
}
BENCHMARK(BM_queued_throughput)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

class latency_sink : public vek::object {
public:
    std::vector<double> micros = std::vector<double>(1 << 20);
    std::atomic<size_t> count{0};
    bool on_event(vek::i_event* e)
    {
        auto now = clock_type::now().time_since_epoch().count();
        size_t i = count.fetch_add(1, std::memory_order_relaxed);
        if (i < micros.size()) micros[i] = static_cast<double>(now - e->get_event_id()) / 1000.0;
        return true;
    }
};

// Four threads fire at a steady 5 000 events per second each (a 200 us
// period); latency from fire to handler, median and 99th percentile, and
// the process's peak thread count.
void BM_queued_latency_4_firers(benchmark::State& state)
{
    ensure_library();
    vek::i_event_proc* proc = event_service();
    unsigned int type = proc->get_event_type("BENCH_LATENCY_4");
    latency_sink s;
    auto cb = static_cast<vek::vek_event_function>(&latency_sink::on_event);
    proc->install_handler(type, 0, &s, cb);
    const int per_thread = 5000;
    int peak = 0;
    for (auto _ : state) {
        s.count = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                auto next = clock_type::now();
                for (int i = 0; i < per_thread; ++i) {
                    next += std::chrono::microseconds(200);
                    std::this_thread::sleep_until(next);
                    fire_queued(proc, type, clock_type::now().time_since_epoch().count());
                }
            });
        }
        while (s.count.load() < static_cast<size_t>(4 * per_thread)) {
            peak = std::max(peak, process_threads());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (auto& th : threads) th.join();
    }
    std::vector<double> m(s.micros.begin(), s.micros.begin() + static_cast<long>(s.count.load()));
    std::sort(m.begin(), m.end());
    state.counters["median_us"] = m[m.size() / 2];
    state.counters["p99_us"] = m[m.size() * 99 / 100];
    state.counters["peak_threads"] = peak;
    state.counters["library_threads"] = peak - 5;  // without main and the four firing threads
    proc->uninstall_handler(type, 0, &s, cb);
}
BENCHMARK(BM_queued_latency_4_firers)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

class sleeper : public vek::object {
public:
    bool on_event(vek::i_event*)
    {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return true;
    }
};

// While handlers sleep for a second each (one per delivery thread and
// more), 200 other events are fired 1 ms apart; reports the largest delay
// from fire to handler among them.
void BM_queued_beside_sleeping_handlers(benchmark::State& state)
{
    ensure_library();
    vek::i_event_proc* proc = event_service();
    unsigned int slow_type = proc->get_event_type("BENCH_SLEEPER");
    unsigned int type = proc->get_event_type("BENCH_BESIDE_SLEEPER");
    sleeper z;
    latency_sink s;
    auto zcb = static_cast<vek::vek_event_function>(&sleeper::on_event);
    auto cb = static_cast<vek::vek_event_function>(&latency_sink::on_event);
    proc->install_handler(slow_type, 0, &z, zcb);
    proc->install_handler(type, 0, &s, cb);
    const int sleepers = static_cast<int>(state.range(0));
    for (auto _ : state) {
        s.count = 0;
        for (int i = 0; i < sleepers; ++i) fire_queued(proc, slow_type, 0);
        for (int i = 0; i < 200; ++i) {
            fire_queued(proc, type, clock_type::now().time_since_epoch().count());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (s.count.load() < 200) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // the sleepers return
    }
    state.counters["max_delay_us"] = *std::max_element(s.micros.begin(), s.micros.begin() + 200);
    proc->uninstall_handler(slow_type, 0, &z, zcb);
    proc->uninstall_handler(type, 0, &s, cb);
}
BENCHMARK(BM_queued_beside_sleeping_handlers)
    ->Arg(1)
    ->Arg(8)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

std::atomic<int> g_done{0};

void count_task(bool, void*, unsigned int)
{
    g_done.fetch_add(1, std::memory_order_release);
}

void BM_bg_thread_handover(benchmark::State& state)
{
    ensure_library();
    for (auto _ : state) {
        int before = g_done.load(std::memory_order_acquire);
        vek_bg_thread(count_task, nullptr, 0);
        while (g_done.load(std::memory_order_acquire) == before) std::this_thread::yield();
    }
}
BENCHMARK(BM_bg_thread_handover)->UseRealTime();

void BM_std_thread_create_join(benchmark::State& state)
{
    for (auto _ : state) {
        std::thread t([] { g_done.fetch_add(1); });
        t.join();
    }
}
BENCHMARK(BM_std_thread_create_join)->UseRealTime();

// One waiting worker handed a task through a mutex and a condition
// variable, and the caller waiting until it ran: the hand-off vek_bg_thread
// does with a reused thread.
void BM_condvar_handoff(benchmark::State& state)
{
    std::mutex m;
    std::condition_variable cv;
    bool pending = false, stop = false;
    std::thread worker([&] {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            cv.wait(lock, [&] { return pending || stop; });
            if (stop) return;
            pending = false;
            g_done.fetch_add(1, std::memory_order_release);
        }
    });
    for (auto _ : state) {
        int before = g_done.load(std::memory_order_acquire);
        {
            std::lock_guard<std::mutex> lock(m);
            pending = true;
        }
        cv.notify_one();
        while (g_done.load(std::memory_order_acquire) == before) std::this_thread::yield();
    }
    {
        std::lock_guard<std::mutex> lock(m);
        stop = true;
    }
    cv.notify_one();
    worker.join();
}
BENCHMARK(BM_condvar_handoff)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
