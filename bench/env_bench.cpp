// Environment files, each figure beside a baseline from the same run:
// - vek_load_environment of a file of 10 000 (and 1 000) NAME=value lines
//   whose every value differs from the previous load (two files take
//   turns), beside the same bytes read with std::ifstream, split at line
//   ends and '=' and applied with glibc setenv;
// - the same with values never set before on every load (the file is
//   rewritten outside the timing), the case that makes the process keep the
//   most memory.
// The counter kept_B_per_load is the heap the process keeps per load
// (mallinfo2): for the library, the texts and arrays its environment setter
// retired; for glibc, the texts setenv leaves behind.
#include <malloc.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <vek/vek_core.h>

namespace {

const std::filesystem::path& dir()
{
    static const std::filesystem::path d = [] {
        auto p = std::filesystem::temp_directory_path() / ("vek_env_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        setenv("VEK_ROOT_PATH", p.c_str(), 1);
        vek_enable_trace(false);
        vek_initialize();
        return p;
    }();
    return d;
}

// Writes `lines` assignments whose values carry `tag`; returns the path.
std::string write_file(const char* name, int lines, const std::string& tag)
{
    std::string path = (dir() / name).string();
    std::ofstream out(path, std::ios::binary);
    char line[96];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line, "VEKB_NAME_%05d = value_of_%05d_%s_padding\n", i, i, tag.c_str());
        out << line;
    }
    return path;
}

void apply_with_setenv(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string line;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        line.assign(text, pos, end - pos);
        std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            line[eq] = '\0';
            setenv(line.c_str(), line.c_str() + eq + 1, 1);
        }
        pos = end + 1;
    }
}

bool apply_with_vek(const std::string& path)
{
    return vek_load_environment(path.c_str());
}

std::size_t heap_in_use()
{
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

template <class Apply>
void run_turns(benchmark::State& state, const char* prefix, Apply apply)
{
    int lines = static_cast<int>(state.range(0));
    std::string a = write_file((std::string(prefix) + "_a.env").c_str(), lines, "a");
    std::string b = write_file((std::string(prefix) + "_b.env").c_str(), lines, "b");
    apply(a);
    apply(b);  // both texts of every pair are known from here on
    std::size_t before = heap_in_use();
    bool turn = false;
    for (auto _ : state) {
        apply((turn = !turn) ? a : b);
    }
    state.counters["kept_B_per_load"] =
        static_cast<double>(heap_in_use() - before) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * lines);
}

template <class Apply>
void run_new_values(benchmark::State& state, const char* prefix, Apply apply)
{
    int lines = static_cast<int>(state.range(0));
    std::string name = std::string(prefix) + "_new.env";
    apply(write_file(name.c_str(), lines, "first"));
    std::size_t before = heap_in_use();
    int generation = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string path = write_file(name.c_str(), lines, std::to_string(++generation));
        state.ResumeTiming();
        apply(path);
    }
    state.counters["kept_B_per_load"] =
        static_cast<double>(heap_in_use() - before) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * lines);
}

void BM_setenv_reload(benchmark::State& state)
{
    run_turns(state, "glibc", apply_with_setenv);
}
BENCHMARK(BM_setenv_reload)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_vek_reload(benchmark::State& state)
{
    run_turns(state, "vek", apply_with_vek);
}
BENCHMARK(BM_vek_reload)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_setenv_reload_new_values(benchmark::State& state)
{
    run_new_values(state, "glibc", apply_with_setenv);
}
BENCHMARK(BM_setenv_reload_new_values)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_vek_reload_new_values(benchmark::State& state)
{
    run_new_values(state, "vek", apply_with_vek);
}
BENCHMARK(BM_vek_reload_new_values)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
