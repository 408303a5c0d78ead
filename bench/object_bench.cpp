// Reference counting and interface lookup, each beside a plain
// std::atomic<int> baseline measured in the same run; the library's mutex
// beside std::mutex, alone and with two threads taking turns.
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>

#include <vek/vek_core.h>

namespace {

vek::i_named_string* shared_string()
{
    static vek::i_named_string* s = vek_create_named_string("name", "value");
    return s;
}

std::atomic<int> g_baseline_count(1);

void BM_atomic_inc_dec(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_baseline_count.fetch_add(1) + 1);
        benchmark::DoNotOptimize(g_baseline_count.fetch_sub(1) - 1);
    }
}
BENCHMARK(BM_atomic_inc_dec)->Threads(1)->Threads(2)->UseRealTime();

void BM_addref_release(benchmark::State& state)
{
    vek::i_named_string* s = shared_string();
    for (auto _ : state) {
        benchmark::DoNotOptimize(s->addref());
        benchmark::DoNotOptimize(s->release());
    }
}
BENCHMARK(BM_addref_release)->Threads(1)->Threads(2)->UseRealTime();

// Baseline for lookup by name: a plain virtual call returning a pointer.
void BM_virtual_call(benchmark::State& state)
{
    vek::i_named_string* s = shared_string();
    for (auto _ : state) benchmark::DoNotOptimize(s->get_value());
}
BENCHMARK(BM_virtual_call)->Threads(1)->Threads(2)->UseRealTime();

void BM_get_interface_first_name(benchmark::State& state)
{
    vek::i_named_string* s = shared_string();
    void* p = nullptr;
    for (auto _ : state) benchmark::DoNotOptimize(s->get_interface("i_named_string", &p));
}
BENCHMARK(BM_get_interface_first_name)->Threads(1)->Threads(2)->UseRealTime();

void BM_get_interface_last_name(benchmark::State& state)
{
    vek::i_named_string* s = shared_string();
    void* p = nullptr;
    for (auto _ : state) benchmark::DoNotOptimize(s->get_interface("i_string", &p));
}
BENCHMARK(BM_get_interface_last_name)->Threads(1)->Threads(2)->UseRealTime();

void BM_get_interface_unknown(benchmark::State& state)
{
    vek::i_named_string* s = shared_string();
    void* p = nullptr;
    for (auto _ : state) benchmark::DoNotOptimize(s->get_interface("i_xml_node", &p));
}
BENCHMARK(BM_get_interface_unknown)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

std::mutex g_std_mutex;
vek::mutex g_vek_mutex;
long long g_guarded = 0;

void BM_std_mutex(benchmark::State& state)
{
    for (auto _ : state) {
        std::lock_guard<std::mutex> hold(g_std_mutex);
        benchmark::DoNotOptimize(++g_guarded);
    }
}
BENCHMARK(BM_std_mutex)->Threads(1)->Threads(2)->UseRealTime();

void BM_vek_mutex(benchmark::State& state)
{
    for (auto _ : state) {
        vek::mutex_locker hold(&g_vek_mutex);
        benchmark::DoNotOptimize(++g_guarded);
    }
}
BENCHMARK(BM_vek_mutex)->Threads(1)->Threads(2)->UseRealTime();

BENCHMARK_MAIN();
