// Message translation, each figure beside a baseline from the same run:
// - translate (hits and misses) over 1000 messages in two languages, spread
//   over two search paths, and vek_translate, which also finds the service,
//   beside std::unordered_map<std::string, std::string>::find on the same
//   pairs and beside the lookup a caller writes by hand (get_service, cast,
//   translate, release), which counts a reference on every call; in 1, 2
//   and 8 threads (items per second are summed over the threads, so
//   scaling shows as a rising rate);
// - reading a .lng catalogue of 10 MB of pairs and one of 1 MB of comments,
//   beside fread of the same file and a memchr pass over it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include <unistd.h>

#include <vek/vek_core.h>

#include "util/lng_reader.h"

namespace {

namespace fs = std::filesystem;

const int k_messages = 1000;

std::string message(int i)
{
    return "Message number " + std::to_string(i) + " of the application";
}

std::string translation(const char* lang, int i)
{
    return std::string(lang) + ": translated message " + std::to_string(i);
}

fs::path scratch()
{
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("vek_translator_bench_" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// The service with catalogue "app" under p1 (messages 0..499) and p2 (the
// rest), for "de" and "en".
vek::i_translator* service()
{
    static vek::i_translator* t = [] {
        vek_enable_trace(false);
        setenv("VEK_ROOT_PATH", scratch().c_str(), 1);
        vek_initialize();
        vek_library_entry();
        for (const char* lang : {"de", "en"}) {
            for (int half = 0; half < 2; ++half) {
                fs::path dir = scratch() / ("p" + std::to_string(half + 1)) / lang;
                fs::create_directories(dir);
                std::ofstream out(dir / "app.lng");
                for (int i = half * k_messages / 2; i < (half + 1) * k_messages / 2; ++i)
                    out << "msgid \"" << message(i) << "\"\nmsgstr \"" << translation(lang, i) << "\"\n\n";
            }
        }
        vek::i_object* svc = vek_core()->get_service("svc_translator");
        svc->release();  // the core keeps it
        vek::i_translator* tr = vek_cast_i_translator(svc);
        tr->add_search_path("p1");
        tr->add_search_path("p2");
        tr->add_catalog("app");
        return tr;
    }();
    return t;
}

const std::vector<std::string>& keys(bool hit)
{
    static const std::vector<std::string> hits = [] {
        std::vector<std::string> v;
        for (int i = 0; i < k_messages; ++i) v.push_back(message((i * 7919) % k_messages));
        return v;
    }();
    static const std::vector<std::string> misses = [] {
        std::vector<std::string> v;
        for (int i = 0; i < k_messages; ++i) v.push_back(message(i) + "?");
        return v;
    }();
    return hit ? hits : misses;
}

const std::unordered_map<std::string, std::string>& baseline_map()
{
    static const std::unordered_map<std::string, std::string> map = [] {
        std::unordered_map<std::string, std::string> m;
        for (int i = 0; i < k_messages; ++i) m.emplace(message(i), translation("en", i));
        return m;
    }();
    return map;
}

template <class Lookup>
void run_lookups(benchmark::State& state, Lookup lookup)
{
    const std::vector<std::string>& ks = keys(state.range(0) != 0);
    std::size_t found = 0;
    for (auto _ : state) {
        for (const std::string& k : ks) found += lookup(k);
    }
    benchmark::DoNotOptimize(found);
    state.SetLabel(state.range(0) != 0 ? "hit" : "miss");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * ks.size()));
}

void BM_unordered_map_find(benchmark::State& state)
{
    const auto& map = baseline_map();
    run_lookups(state, [&](const std::string& k) { return map.find(k) != map.end() ? 1 : 0; });
}

void BM_translate(benchmark::State& state)
{
    vek::i_translator* t = service();
    run_lookups(state, [&](const std::string& k) { return t->translate(k.c_str(), "en") != k.c_str() ? 1 : 0; });
}

void BM_vek_translate(benchmark::State& state)
{
    service();
    run_lookups(state, [&](const std::string& k) { return vek_translate(k.c_str(), "en") != k.c_str() ? 1 : 0; });
}

void BM_get_service_translate(benchmark::State& state)
{
    service();
    run_lookups(state, [&](const std::string& k) {
        vek::i_object* svc = vek_core()->get_service("svc_translator");
        const char* text = vek_cast_i_translator(svc)->translate(k.c_str(), "en");
        svc->release();
        return text != k.c_str() ? 1 : 0;
    });
}

BENCHMARK(BM_unordered_map_find)->Arg(1)->Arg(0)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();
BENCHMARK(BM_translate)->Arg(1)->Arg(0)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();
BENCHMARK(BM_vek_translate)->Arg(1)->Arg(0)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();
BENCHMARK(BM_get_service_translate)->Arg(1)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

// A catalogue file of about `size` bytes: pairs, or one long comment.
const std::string& catalogue(bool comments)
{
    static std::string paths[2];
    std::string& path = paths[comments ? 1 : 0];
    if (!path.empty()) return path;
    path = (scratch() / (comments ? "comments.lng" : "pairs.lng")).string();
    std::ofstream out(path, std::ios::binary);
    if (comments) {
        std::string line = "# a comment line without any keyword, \"quoted\" text and \\ backslashes\n";
        for (std::size_t n = 0; n < (1u << 20); n += line.size()) out << line;
    } else {
        for (std::size_t i = 0, n = 0; n < 10u * (1u << 20); ++i) {
            std::string entry = "#: src/file.cpp:" + std::to_string(i) + "\nmsgid \"" + message(int(i)) +
                                " \\\"q\\\"\\n\"\nmsgstr \"" + translation("de", int(i)) + "\"\n\n";
            out << entry;
            n += entry.size();
        }
    }
    return path;
}

void set_bytes(benchmark::State& state, const std::string& path)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(path)));
    state.SetLabel(state.range(0) != 0 ? "1 MB comments" : "10 MB pairs");
}

void BM_lng_read_file(benchmark::State& state)
{
    const std::string& path = catalogue(state.range(0) != 0);
    for (auto _ : state) {
        std::size_t bytes = 0;
        vek::lng::read_file(path.c_str(),
                            [&](std::string_view id, std::string_view str) { bytes += id.size() + str.size(); });
        benchmark::DoNotOptimize(bytes);
    }
    set_bytes(state, path);
}
BENCHMARK(BM_lng_read_file)->Arg(0)->Arg(1);

void BM_fread_memchr(benchmark::State& state)
{
    const std::string& path = catalogue(state.range(0) != 0);
    std::vector<char> buf(fs::file_size(path));
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        std::size_t n = std::fread(buf.data(), 1, buf.size(), f);
        std::fclose(f);
        std::size_t quotes = 0;
        for (const char* p = buf.data(); (p = static_cast<const char*>(std::memchr(p, '"', buf.data() + n - p))); ++p)
            ++quotes;
        benchmark::DoNotOptimize(quotes);
    }
    set_bytes(state, path);
}
BENCHMARK(BM_fread_memchr)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
