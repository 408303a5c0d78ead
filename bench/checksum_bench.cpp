// Checksums, digests and the encryptor on 1 MB of random bytes, each beside
// a baseline from the same run:
// - vek_crc32 beside zlib's crc32 (the ceiling: vek_crc32 only undoes its
//   inversions) and beside a plain byte-at-a-time table loop;
// - MD5 through the "svc_md5_encoder" service beside OpenSSL's EVP_Digest;
// - encrypt and decrypt with FROG ('1') and TEA ('2') beside a memcpy of
//   the same bytes and a bare TEA loop over them.
#include <openssl/evp.h>
#include <zlib.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <vek/vek_core.h>

namespace {

const std::size_t k_size = 1 << 20;

const std::vector<unsigned char>& data()
{
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> v(k_size);
        std::mt19937 rng(1);
        for (auto& b : v) b = static_cast<unsigned char>(rng());
        return v;
    }();
    return bytes;
}

vek::i_object* service(const char* name)
{
    static bool started = [] {
        vek_enable_trace(false);
        return vek_initialize();
    }();
    (void)started;
    vek::i_object* svc = vek_core()->get_service(name);
    svc->release();  // the core keeps it
    return svc;
}

void set_bytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k_size));
}

void BM_vek_crc32(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(vek_crc32(data().data(), k_size, 0xFFFFFFFF));
    set_bytes(state);
}
BENCHMARK(BM_vek_crc32);

void BM_zlib_crc32(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(crc32(0, data().data(), k_size));
    set_bytes(state);
}
BENCHMARK(BM_zlib_crc32);

void BM_table_crc32(benchmark::State& state)
{
    static std::uint32_t table[256];
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    for (auto _ : state) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char b : data()) crc = (crc >> 8) ^ table[(crc ^ b) & 0xFF];
        benchmark::DoNotOptimize(crc);
    }
    set_bytes(state);
}
BENCHMARK(BM_table_crc32);

void BM_md5_service(benchmark::State& state)
{
    vek::i_md5_encoder* md5 = vek_cast_i_md5_encoder(service("svc_md5_encoder"));
    for (auto _ : state) std::free(md5->encode_data(data().data(), k_size));
    set_bytes(state);
}
BENCHMARK(BM_md5_service);

void BM_md5_evp(benchmark::State& state)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    for (auto _ : state) {
        EVP_Digest(data().data(), k_size, digest, &size, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    set_bytes(state);
}
BENCHMARK(BM_md5_evp);

const unsigned char k_key[] = "a key of twenty byte";

void BM_encrypt(benchmark::State& state)
{
    auto* enc = vek_cast_i_encryptor(service("svc_encrypt"));
    unsigned char method = static_cast<unsigned char>(state.range(0));
    for (auto _ : state) enc->encrypt(data().data(), k_size, k_key, 20, method)->release();
    set_bytes(state);
}
BENCHMARK(BM_encrypt)->Arg('0')->Arg('1')->Arg('2')->Unit(benchmark::kMillisecond);

void BM_decrypt(benchmark::State& state)
{
    auto* enc = vek_cast_i_encryptor(service("svc_encrypt"));
    unsigned char method = static_cast<unsigned char>(state.range(0));
    vek::i_binary* cipher = enc->encrypt(data().data(), k_size, k_key, 20, method);
    for (auto _ : state) enc->decrypt(cipher->get_data(), cipher->get_data_size(), k_key, 20, method)->release();
    cipher->release();
    set_bytes(state);
}
BENCHMARK(BM_decrypt)->Arg('0')->Arg('1')->Arg('2')->Unit(benchmark::kMillisecond);

void BM_memcpy(benchmark::State& state)
{
    std::vector<unsigned char> out(k_size);
    for (auto _ : state) {
        std::memcpy(out.data(), data().data(), k_size);
        benchmark::ClobberMemory();
    }
    set_bytes(state);
}
BENCHMARK(BM_memcpy)->Unit(benchmark::kMillisecond);

// TEA over the same bytes in place, one fixed key, no framing or key window.
void BM_raw_tea(benchmark::State& state)
{
    std::vector<std::uint32_t> words(k_size / 4);
    const std::uint32_t k[4] = {1, 2, 3, 4};
    for (auto _ : state) {
        std::memcpy(words.data(), data().data(), k_size);
        for (std::size_t i = 0; i < words.size(); i += 2) {
            std::uint32_t y = words[i], z = words[i + 1], sum = 0;
            for (int c = 0; c < 32; ++c) {
                sum += 0x9E3779B9u;
                y += ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
                z += ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
            }
            words[i] = y;
            words[i + 1] = z;
        }
        benchmark::ClobberMemory();
    }
    set_bytes(state);
}
BENCHMARK(BM_raw_tea)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
