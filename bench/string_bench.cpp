// Appending many small pieces: vek::string::concat against the baseline
// std::string::append, in the same run. Compare the two items_per_second.
#include <benchmark/benchmark.h>

#include <string>

#include <vek/vek_core.h>

namespace {

const char piece[] = "01234567";
const int pieces_per_string = 1000;

// Hides the piece's length from the compiler, so strlen really runs.
const char* benchmark_piece()
{
    const char* p = piece;
    benchmark::DoNotOptimize(p);
    return p;
}

void BM_vek_string_concat(benchmark::State& state)
{
    for (auto _ : state) {
        vek::string s;
        for (int i = 0; i < pieces_per_string; ++i) s.concat(benchmark_piece());
        benchmark::DoNotOptimize(s.get_value());
    }
    state.SetItemsProcessed(state.iterations() * pieces_per_string);
}

void BM_std_string_append(benchmark::State& state)
{
    for (auto _ : state) {
        std::string s;
        for (int i = 0; i < pieces_per_string; ++i) s.append(piece, sizeof piece - 1);
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * pieces_per_string);
}

// The same with the length found by append itself, as concat must.
void BM_std_string_append_cstr(benchmark::State& state)
{
    for (auto _ : state) {
        std::string s;
        for (int i = 0; i < pieces_per_string; ++i) s.append(benchmark_piece());
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * pieces_per_string);
}

}  // namespace

BENCHMARK(BM_vek_string_concat);
BENCHMARK(BM_std_string_append);
BENCHMARK(BM_std_string_append_cstr);

BENCHMARK_MAIN();
