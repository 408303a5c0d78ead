// Base64 on 1 MB of random bytes (1.33 MB of text), each direction beside a
// plain table codec written here: one 256-entry table, one character at a
// time, the output block sized from the text's length. Bytes per second are
// bytes of binary data (the encoder's input, the decoder's output). The
// program aborts before measuring when the two codecs disagree.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <vek/vek_core.h>

namespace {

const unsigned int k_size = 1 << 20;
const char k_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

const std::vector<unsigned char>& data()
{
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> v(k_size);
        std::mt19937 rng(3);
        for (auto& b : v) b = static_cast<unsigned char>(rng());
        return v;
    }();
    return bytes;
}

const std::string& text()
{
    static const std::string t = [] {
        char* s = vek_base64_encode(data().data(), k_size);
        std::string copy(s);
        std::free(s);
        return copy;
    }();
    return t;
}

char* plain_encode(const unsigned char* in, unsigned int size)
{
    char* out = static_cast<char*>(std::malloc((size + 2) / 3 * 4 + 1));
    char* p = out;
    unsigned int i = 0;
    for (; i + 3 <= size; i += 3) {
        unsigned int v = in[i] << 16 | in[i + 1] << 8 | in[i + 2];
        *p++ = k_alphabet[v >> 18];
        *p++ = k_alphabet[v >> 12 & 63];
        *p++ = k_alphabet[v >> 6 & 63];
        *p++ = k_alphabet[v & 63];
    }
    if (i < size) {
        unsigned int v = in[i] << 16 | (i + 1 < size ? in[i + 1] << 8 : 0);
        *p++ = k_alphabet[v >> 18];
        *p++ = k_alphabet[v >> 12 & 63];
        *p++ = i + 1 < size ? k_alphabet[v >> 6 & 63] : '=';
        *p++ = '=';
    }
    *p = '\0';
    return out;
}

// Decodes up to the first character outside the alphabet.
std::vector<unsigned char> plain_decode(const char* text)
{
    static const auto table = [] {
        std::vector<int> t(256, -1);
        for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(k_alphabet[i])] = i;
        return t;
    }();
    std::vector<unsigned char> out;
    out.reserve(std::strlen(text) / 4 * 3 + 2);
    unsigned int acc = 0, bits = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); table[*p] >= 0; ++p) {
        acc = acc << 6 | table[*p];
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(acc >> bits));
        }
    }
    return out;
}

void BM_vek_encode(benchmark::State& state)
{
    for (auto _ : state) std::free(vek_base64_encode(data().data(), k_size));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k_size);
}

void BM_plain_encode(benchmark::State& state)
{
    for (auto _ : state) std::free(plain_encode(data().data(), k_size));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k_size);
}

void BM_vek_decode(benchmark::State& state)
{
    for (auto _ : state) vek_base64_decode(text().c_str())->release();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k_size);
}

void BM_plain_decode(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(plain_decode(text().c_str()).data());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k_size);
}

}  // namespace

BENCHMARK(BM_vek_encode);
BENCHMARK(BM_plain_encode);
BENCHMARK(BM_vek_decode);
BENCHMARK(BM_plain_decode);

int main(int argc, char** argv)
{
    char* mine = plain_encode(data().data(), k_size);
    vek::i_binary* back = vek_base64_decode(mine);
    const bool same = text() == mine && back->get_data_size() == k_size &&
                      std::memcmp(back->get_data(), data().data(), k_size) == 0 && plain_decode(mine) == data();
    std::free(mine);
    back->release();
    if (!same) {
        std::fprintf(stderr, "the library and the plain codec disagree\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
