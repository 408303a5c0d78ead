// The bit parser walking 1 MB of records field by field, beside a
// hand-written shift-and-mask loop that decodes the same fields:
// - get_int of 2, 4 and 8 bytes, little- and big-endian, at start bit 0;
// - get_bits of 3, 5 and 13 bits from start bit 1 on, so that every field
//   crosses byte borders at odd bit positions.
// - a mix: records of ten fields of both sorts read one after the other,
//   so that ints too start at odd bit positions (250 bits a record).
// For the mix, a third figure is the floor of any parser behind a virtual
// call per field that keeps its cursor in the object: calls that only move
// such a cursor (the compiler cannot keep it in a register across calls).
// Both sides sum the fields; the program aborts before measuring when the
// sums differ. Items per second are fields per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <vek/vek_core.h>

namespace {

const unsigned int k_size = 1 << 20;

// The records, with 8 spare bytes after them for the baseline's 64-bit loads.
const std::vector<unsigned char>& data()
{
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> v(k_size + 8);
        std::mt19937 rng(5);
        for (unsigned int i = 0; i < k_size; ++i) v[i] = static_cast<unsigned char>(rng());
        return v;
    }();
    return bytes;
}

vek::i_bin_parser* parser()
{
    static vek::i_bin_parser* p = vek_create_bin_parser(data().data(), k_size);
    return p;
}

// A field kind: get_int(size, invert) when `bits` is 0, else get_bits(bits).
struct kind {
    unsigned int size;
    bool invert;
    unsigned int bits;

    // Fields that fit: whole ints from 0, or bit fields from bit 1 with the
    // byte the shifted read takes after the last one.
    unsigned int fields() const { return bits == 0 ? k_size / size : ((k_size - 2) * 8 - 1) / bits; }
};

unsigned long long parser_sum(const kind& k)
{
    vek::i_bin_parser* p = parser();
    unsigned long long sum = 0;
    const unsigned int n = k.fields();
    if (k.bits == 0) {
        p->set_offset(0, 0);
        for (unsigned int i = 0; i < n; ++i) sum += p->get_int(0, k.size, k.invert, true);
    } else {
        p->set_offset(0, 1);
        for (unsigned int i = 0; i < n; ++i) sum += p->get_bits(0, k.bits, true);
    }
    return sum;
}

// `w` (1-56) bits from bit position `at`, first bit most significant.
inline unsigned long long peek(const unsigned char* d, unsigned long long at, unsigned int w)
{
    unsigned long long v;
    std::memcpy(&v, d + at / 8, 8);
    v = __builtin_bswap64(v);
    return (v << (at % 8)) >> (64 - w);
}

template <unsigned int size, bool invert>
unsigned long long hand_ints(const unsigned char* d, unsigned int n)
{
    unsigned long long sum = 0;
    for (unsigned int i = 0; i < n; ++i, d += size) {
        unsigned long long v = 0;
        for (unsigned int j = 0; j < size; ++j) {
            v = invert ? v << 8 | d[j] : v | static_cast<unsigned long long>(d[j]) << 8 * j;
        }
        if (size == 2 && !invert) v = static_cast<unsigned long long>(static_cast<int16_t>(v));
        sum += v;
    }
    return sum;
}

// Whole bytes come first, least significant first; the bits left over form
// the top byte.
template <unsigned int bits>
unsigned long long hand_bits(const unsigned char* d, unsigned int n)
{
    unsigned long long sum = 0;
    unsigned long long at = 1;
    for (unsigned int i = 0; i < n; ++i, at += bits) {
        unsigned long long v = 0;
        unsigned int b = 0;
        for (; b + 8 <= bits; b += 8) v |= peek(d, at + b, 8) << b;
        if (b < bits) v |= peek(d, at + b, bits - b) << b;
        sum += v;
    }
    return sum;
}

unsigned long long hand_sum(const kind& k)
{
    const unsigned char* d = data().data();
    const unsigned int n = k.fields();
    if (k.bits == 3) return hand_bits<3>(d, n);
    if (k.bits == 5) return hand_bits<5>(d, n);
    if (k.bits == 13) return hand_bits<13>(d, n);
    if (k.size == 2) return k.invert ? hand_ints<2, true>(d, n) : hand_ints<2, false>(d, n);
    if (k.size == 4) return k.invert ? hand_ints<4, true>(d, n) : hand_ints<4, false>(d, n);
    if (k.size == 8) return k.invert ? hand_ints<8, true>(d, n) : hand_ints<8, false>(d, n);
    std::abort();
}

void run(benchmark::State& state, kind k, bool use_parser)
{
    for (auto _ : state) benchmark::DoNotOptimize(use_parser ? parser_sum(k) : hand_sum(k));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * k.fields());
}

// The mix's record, field by field: int2 le, bits 3, int4 be, bits 5,
// int8 le, bits 13, int2 be, int4 le, bits 5, int8 be.
const unsigned int k_record_bits = 250, k_record_fields = 10;
const unsigned int k_records = (k_size - 2) * 8 / k_record_bits;

unsigned long long parser_mix()
{
    vek::i_bin_parser* p = parser();
    unsigned long long sum = 0;
    p->set_offset(0, 0);
    for (unsigned int i = 0; i < k_records; ++i) {
        sum += p->get_int(0, 2, false, true);
        sum += p->get_bits(0, 3, true);
        sum += p->get_int(0, 4, true, true);
        sum += p->get_bits(0, 5, true);
        sum += p->get_int(0, 8, false, true);
        sum += p->get_bits(0, 13, true);
        sum += p->get_int(0, 2, true, true);
        sum += p->get_int(0, 4, false, true);
        sum += p->get_bits(0, 5, true);
        sum += p->get_int(0, 8, true, true);
    }
    return sum;
}

// `size` bytes from bit position `at` as an integer, little-endian unless
// `invert`; two little-endian bytes are signed.
template <unsigned int size, bool invert>
inline unsigned long long hand_int_at(const unsigned char* d, unsigned long long at)
{
    unsigned long long be = size == 8 ? peek(d, at, 32) << 32 | peek(d, at + 32, 32) : peek(d, at, 8 * size);
    if (invert) return be;
    unsigned long long le = __builtin_bswap64(be) >> (64 - 8 * size);
    return size == 2 ? static_cast<unsigned long long>(static_cast<int16_t>(le)) : le;
}

template <unsigned int bits>
inline unsigned long long hand_bits_at(const unsigned char* d, unsigned long long at)
{
    unsigned long long v = 0;
    unsigned int b = 0;
    for (; b + 8 <= bits; b += 8) v |= peek(d, at + b, 8) << b;
    if (b < bits) v |= peek(d, at + b, bits - b) << b;
    return v;
}

unsigned long long hand_mix()
{
    const unsigned char* d = data().data();
    unsigned long long sum = 0, at = 0;
    for (unsigned int i = 0; i < k_records; ++i) {
        sum += hand_int_at<2, false>(d, at), at += 16;
        sum += hand_bits_at<3>(d, at), at += 3;
        sum += hand_int_at<4, true>(d, at), at += 32;
        sum += hand_bits_at<5>(d, at), at += 5;
        sum += hand_int_at<8, false>(d, at), at += 64;
        sum += hand_bits_at<13>(d, at), at += 13;
        sum += hand_int_at<2, true>(d, at), at += 16;
        sum += hand_int_at<4, false>(d, at), at += 32;
        sum += hand_bits_at<5>(d, at), at += 5;
        sum += hand_int_at<8, true>(d, at), at += 64;
    }
    return sum;
}

struct cursor {
    virtual ~cursor() = default;
    __attribute__((noinline)) virtual long long get_int(unsigned int size)
    {
        m_offset += size;
        return m_offset;
    }
    __attribute__((noinline)) virtual unsigned long long get_bits(unsigned int count)
    {
        const unsigned int bits = m_start_bit + count;
        m_offset += bits / 8;
        m_start_bit = bits % 8;
        return m_offset;
    }
    unsigned int m_offset = 0, m_start_bit = 0;
};

void run_cursor_mix(benchmark::State& state)
{
    cursor c;
    cursor* p = &c;
    benchmark::DoNotOptimize(p);
    for (auto _ : state) {
        unsigned long long sum = 0;
        p->m_offset = p->m_start_bit = 0;
        for (unsigned int i = 0; i < k_records; ++i) {
            sum += p->get_int(2) + p->get_bits(3) + p->get_int(4) + p->get_bits(5) + p->get_int(8);
            sum += p->get_bits(13) + p->get_int(2) + p->get_int(4) + p->get_bits(5) + p->get_int(8);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * k_records * k_record_fields);
}

void run_mix(benchmark::State& state, bool use_parser)
{
    for (auto _ : state) benchmark::DoNotOptimize(use_parser ? parser_mix() : hand_mix());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * k_records * k_record_fields);
}

}  // namespace

int main(int argc, char** argv)
{
    const struct {
        const char* name;
        kind k;
    } kinds[] = {{"int2_le", {2, false, 0}}, {"int2_be", {2, true, 0}},  {"int4_le", {4, false, 0}},
                 {"int4_be", {4, true, 0}},  {"int8_le", {8, false, 0}}, {"int8_be", {8, true, 0}},
                 {"bits3", {0, false, 3}},   {"bits5", {0, false, 5}},   {"bits13", {0, false, 13}}};
    for (const auto& e : kinds) {
        const unsigned long long a = parser_sum(e.k), b = hand_sum(e.k);
        if (a != b) {
            std::fprintf(stderr, "%s: parser sum %llx, hand-written sum %llx\n", e.name, a, b);
            std::abort();
        }
        benchmark::RegisterBenchmark((std::string("BM_parser_") + e.name).c_str(), run, e.k, true);
        benchmark::RegisterBenchmark((std::string("BM_hand_") + e.name).c_str(), run, e.k, false);
    }
    if (parser_mix() != hand_mix()) {
        std::fprintf(stderr, "mix: parser sum %llx, hand-written sum %llx\n", parser_mix(), hand_mix());
        std::abort();
    }
    benchmark::RegisterBenchmark("BM_parser_mix", run_mix, true);
    benchmark::RegisterBenchmark("BM_hand_mix", run_mix, false);
    benchmark::RegisterBenchmark("BM_cursor_only_mix", run_cursor_mix);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    parser()->release();
    return 0;
}
