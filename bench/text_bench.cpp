// Text helpers and charset conversion, each beside a baseline from the same
// run:
// - vek_wildcmp on typical file patterns over 1000 paths, beside fnmatch
//   (flags 0) on the same pairs; vek_wildicmp beside fnmatch with
//   FNM_CASEFOLD;
// - vek_strlen of 1 MB of mixed UTF-8 text, beside a plain loop counting the
//   bytes that are not continuation bytes;
// - vek_iconv_to_utf16 of the same megabyte, beside one raw iconv call into a
//   ready buffer with a descriptor opened once (the ceiling for any
//   iconv-based conversion).
#include <fnmatch.h>
#include <iconv.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <vek/vek_core.h>

namespace {

const char* const patterns[] = {"*.cpp", "src/*/test_?.h", "*a*b*c*"};

const std::vector<std::string>& paths()
{
    static const std::vector<std::string> all = [] {
        const char* dirs[] = {"src/core/", "src/util/", "include/vek/", "tests/object/", "bench/", ""};
        const char* names[] = {"test_1.h", "test_x.h", "wildcard.cpp", "abc_main.cpp", "a_big_call.txt", "README"};
        const char* exts[] = {"", ".cpp", ".h", ".bak"};
        std::vector<std::string> v;
        for (unsigned int i = 0; v.size() < 1000; ++i)
            v.push_back(std::string(dirs[i % 6]) + names[(i / 6) % 6] + exts[(i / 36) % 4]);
        return v;
    }();
    return all;
}

template <class Match>
void run_matches(benchmark::State& state, Match match)
{
    const char* wild = patterns[state.range(0)];
    for (auto _ : state) {
        int hits = 0;
        for (const std::string& p : paths()) hits += match(wild, p.c_str()) ? 1 : 0;
        benchmark::DoNotOptimize(hits);
    }
    state.SetLabel(wild);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * paths().size()));
}

void BM_fnmatch(benchmark::State& state)
{
    run_matches(state, [](const char* w, const char* v) { return fnmatch(w, v, 0) == 0; });
}
BENCHMARK(BM_fnmatch)->DenseRange(0, 2);

void BM_vek_wildcmp(benchmark::State& state)
{
    run_matches(state, [](const char* w, const char* v) { return vek_wildcmp(w, v) != 0; });
}
BENCHMARK(BM_vek_wildcmp)->DenseRange(0, 2);

void BM_fnmatch_casefold(benchmark::State& state)
{
    run_matches(state, [](const char* w, const char* v) { return fnmatch(w, v, FNM_CASEFOLD) == 0; });
}
BENCHMARK(BM_fnmatch_casefold)->DenseRange(0, 2);

void BM_vek_wildicmp(benchmark::State& state)
{
    run_matches(state, vek_wildicmp);
}
BENCHMARK(BM_vek_wildicmp)->DenseRange(0, 2);

const std::string& mixed_text()
{
    static const std::string text = [] {
        const std::string line =
            "Hello, \xD0\xA9\xD1\x83\xD0\xBA\xD0\xB0! 3\xE2\x82\xAC \xF0\x9F\x98\x8A na\xC3\xAFve\n";
        std::string t;
        while (t.size() < (1u << 20)) t += line;
        return t;
    }();
    return text;
}

void BM_count_lead_bytes(benchmark::State& state)
{
    const std::string& text = mixed_text();
    for (auto _ : state) {
        unsigned int n = 0;
        for (const char* p = text.c_str(); *p != '\0'; ++p) n += (static_cast<unsigned char>(*p) & 0xC0) != 0x80;
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_count_lead_bytes);

void BM_vek_strlen(benchmark::State& state)
{
    const std::string& text = mixed_text();
    for (auto _ : state) benchmark::DoNotOptimize(vek_strlen(text.c_str()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_vek_strlen);

void BM_raw_iconv(benchmark::State& state)
{
    const std::string& text = mixed_text();
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    std::vector<char> out(2 * text.size() + 16);
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(text.data());
        std::size_t in_left = text.size();
        char* dst = out.data();
        std::size_t out_left = out.size();
        benchmark::DoNotOptimize(iconv(cd, &in, &in_left, &dst, &out_left));
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_raw_iconv)->Unit(benchmark::kMicrosecond);

void BM_vek_iconv_to_utf16(benchmark::State& state)
{
    const std::string& text = mixed_text();
    for (auto _ : state) {
        char16_t* wide = vek_iconv_to_utf16(text.c_str());
        benchmark::DoNotOptimize(wide);
        std::free(wide);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_vek_iconv_to_utf16)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
