#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>

#include "test_support.h"

using parser_ptr = auto_ptr_t<vek::i_bin_parser>;
using ull = unsigned long long;

namespace {

// The parser's reads worked out one bit at a time.
struct bit_model {
    std::string d;
    ull off = 0;
    unsigned bit = 0;

    bool fits(ull pos, ull n) const { return pos + (bit != 0) + n <= d.size(); }
    ull get_bits(ull pos, unsigned count, bool incr)
    {
        ull n = (count + 7ULL) / 8, v = 0;
        if (count == 0 || !fits(pos, n)) return 0;
        // Byte k of the result: the stream bits from byte k after the cursor,
        // first bit most significant; the last byte takes what is left.
        for (ull k = 0, i = pos * 8 + bit; k < n && k < 8; ++k) {
            ull b = 0, w = k == n - 1 && count % 8 ? count % 8 : 8;
            for (ull end = i + w; i < end; ++i) b = b << 1 | (d[i / 8] >> (7 - i % 8) & 1);
            v |= b << 8 * k;
        }
        if (incr) off += (bit + count) / 8, bit = (bit + count) % 8;
        return v;
    }
    // Whole bytes read as bits come first byte lowest.
    long long get_int(ull pos, unsigned size, bool invert, bool incr)
    {
        if (size != 2 && size != 4 && size != 8) return 0;
        ull le = get_bits(pos, 8 * size, false), be = 0;
        for (unsigned i = 0; i < size; ++i) be = be << 8 | (le >> 8 * i & 0xFF);
        off += incr && fits(pos, size) ? size : 0;
        return size == 2 && !invert ? static_cast<std::int16_t>(le) : static_cast<long long>(invert ? be : le);
    }
    // Texts only start on a byte boundary and end at a NUL within the data.
    std::string get_text(ull pos, bool incr)
    {
        ull nul = bit != 0 || pos >= d.size() ? std::string::npos : d.find('\0', pos);
        if (nul == std::string::npos) return "";
        off += incr ? nul - pos + 1 : 0;
        return d.substr(pos, nul - pos);
    }
    std::string get_text2(ull pos, ull n, bool incr)
    {
        n = n != 0 || pos > d.size() ? n : d.size() - pos;
        if (bit != 0 || n == 0 || pos + n > d.size()) return "<null>";
        n = std::min(n, d.find('\0', pos) - pos);
        off += incr ? n : 0;
        return d.substr(pos, n);
    }
};

}  // namespace

// Random reads at random cursors, offsets near 2^32 among them, against the
// model; a quarter of the bytes are NUL so that texts end within the data.
TEST(BinParserTest, MatchesBitModel)
{
    std::mt19937 rng(65);
    ull scratch;  // a float's or a double's bits, zero-extended
    auto bits = [&scratch](auto v) { return *static_cast<ull*>(std::memcpy(&(scratch = 0), &v, sizeof v)); };
    for (int trial = 0; trial < 3000; ++trial) {
        bit_model m;
        m.d.resize(1 + rng() % 20);
        for (char& b : m.d) b = static_cast<char>(rng() % 4 != 0 ? rng() : 0);
        // An exactly sized copy: the sanitizer build sees any read past the end.
        parser_ptr p(vek_create_bin_parser(m.d.data(), static_cast<unsigned>(m.d.size()), true));
        for (int op = 0; op < 40; ++op) {
            unsigned offset = rng() % 8 == 0 ? 0xFFFFFFFFu - rng() % 24 : rng() % (m.d.size() + 3);
            unsigned kind = rng() % 7, size = rng() % 8 == 0 ? 0xFFFFFFFFu - rng() % 8 : rng() % 10;
            bool invert = rng() & 1, incr = rng() & 1;
            ull pos = m.off + offset;
            if (kind == 0) {
                unsigned val = rng() % (m.d.size() + 2), b = rng() % 9;
                bool ok = val < m.d.size() && b < 8;
                ASSERT_EQ(p->set_offset(val, b), ok);
                if (ok) m.off = val, m.bit = b;
            } else if (kind == 1) {
                ASSERT_EQ(p->get_int(offset, size, invert, incr), m.get_int(pos, size, invert, incr));
            } else if (kind == 2) {  // floats by their bits, NaNs included
                ull got =
                    size & 1 ? bits(p->get_double(offset, invert, incr)) : bits(p->get_float(offset, invert, incr));
                ASSERT_EQ(got, ull(m.get_int(pos, size & 1 ? 8 : 4, invert, incr)));
            } else if (kind == 3) {
                unsigned count = rng() % 8 == 0 ? 0xFFFFFFFFu - rng() % 16 : rng() % 80;
                ASSERT_EQ(p->get_bits(offset, count, incr), m.get_bits(pos, count, incr));
            } else if (kind == 4) {  // a byte moves the cursor as eight bits do
                ASSERT_EQ(p->get_byte(offset, incr), m.get_bits(pos, 8, incr));
            } else if (kind == 5) {
                ASSERT_EQ(p->get_text(offset, incr), m.get_text(pos, incr));
            } else {
                char* text = p->get_text2(offset, size, incr);
                ASSERT_EQ(text != nullptr ? std::string(text) : "<null>", m.get_text2(pos, size, incr));
                std::free(text);
            }
            ASSERT_EQ(std::make_tuple(p->get_offset(), p->get_start_bit(), p->get_unparsed_size()),
                      std::make_tuple(unsigned(m.off), m.bit, unsigned(m.d.size() - m.off)));
        }
    }
}

// The largest data a parser takes, at the end of a sparse mapping with a
// guard page after it: only the pages touched are backed.
TEST(BinParserTest, CursorNearFourGigabytes)
{
    const ull span = 1ULL << 32, page = 4096;
    void* map = mmap(nullptr, span + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(map, MAP_FAILED) << "no 4 GB of address space";
    unsigned char* data = static_cast<unsigned char*>(map) + 1;
    const unsigned size = 0xFFFFFFFFu;
    ASSERT_EQ(mprotect(data + size, page, PROT_NONE), 0);
    for (unsigned i = 1; i <= 8; ++i) data[size - i] = static_cast<unsigned char>(0x10 * i + 1);  // ... 21 11
    parser_ptr p(vek_create_bin_parser(data, size));
    EXPECT_FALSE(p->set_offset(size, 0));
    // Cursor, bit and size add up to one past 2^32 here.
    ASSERT_TRUE(p->set_offset(size - 8, 1));
    EXPECT_EQ(p->get_int(0, 8), 0);  // would need the byte after the data
    EXPECT_EQ(p->get_bits(0, 55, true), 0x216282A2C2E202ULL);
    EXPECT_EQ(p->get_byte(0, true), 0x11);
    EXPECT_EQ(p->get_byte(0) + p->get_bits(0, 1) + p->get_int(0, 2), 0u);
    p.reset(nullptr);
    munmap(map, span + page);
}

TEST(BinParserTest, OwnershipAndInterfaces)
{
    unsigned char bytes[] = {1, 2};
    EXPECT_TRUE(!vek_create_bin_parser(nullptr, 4, true) && !vek_create_bin_parser(bytes, 0, true));
    vek::i_bin_parser* copy = vek_create_bin_parser(bytes, 2, true);
    vek::i_bin_parser* shared = vek_create_bin_parser(bytes, 2);
    ASSERT_NE(copy, nullptr);
    bytes[0] = 9;
    EXPECT_EQ(copy->get_byte(0), 1);
    EXPECT_EQ(shared->get_byte(0), 9);
    void* out = &out;
    for (const char* name : {"i_object", "i_binary", "I_BIN_PARSER", static_cast<const char*>(nullptr)})
        EXPECT_TRUE(!copy->get_interface(name, &out) && out == nullptr) << (name ? name : "null");
    EXPECT_EQ(copy->release(), 0);  // one reference; frees its copy (checked by the asan build)
    EXPECT_EQ(shared->release(), 0);
}
