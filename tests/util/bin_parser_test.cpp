#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

using vek_test::count_of;
using parser_ptr = auto_ptr_t<vek::i_bin_parser>;
using ull = unsigned long long;

namespace {

// The parser's reads worked out one bit at a time.
struct bit_model {
    std::vector<unsigned char> d;
    ull off = 0;
    unsigned bit = 0;

    bool fits(ull pos, ull n) const { return pos + (bit != 0) + n <= d.size(); }
    // `width` stream bits from byte k after the cursor bit at pos, first bit most significant.
    ull byte_at(ull pos, ull k, unsigned width = 8) const
    {
        ull v = 0;
        for (ull i = (pos + k) * 8 + bit, j = 0; j < width; ++i, ++j) v = v << 1 | (d[i / 8] >> (7 - i % 8) & 1);
        return v;
    }
    long long get_int(ull pos, unsigned size, bool invert, bool incr)
    {
        if ((size != 2 && size != 4 && size != 8) || !fits(pos, size)) return 0;
        ull le = 0, be = 0;
        for (unsigned i = 0; i < size; ++i) le |= byte_at(pos, i) << 8 * i, be = be << 8 | byte_at(pos, i);
        if (incr) off += size;
        if (size == 2 && !invert) return static_cast<std::int16_t>(le);
        return static_cast<long long>(invert ? be : le);
    }
    ull get_bits(ull pos, unsigned count, bool incr)
    {
        ull n = (count + 7ULL) / 8, v = 0;
        if (count == 0 || !fits(pos, n)) return 0;
        for (ull k = 0; k < n && k < 8; ++k) v |= byte_at(pos, k, k == n - 1 && count % 8 ? count % 8 : 8) << 8 * k;
        if (incr) off += (bit + count) / 8, bit = (bit + count) % 8;
        return v;
    }
};

template <class T>
ull bits_of(T v)
{
    ull b = 0;
    return *static_cast<ull*>(std::memcpy(&b, &v, sizeof v));
}

std::string take(char* text)
{
    std::string s = text != nullptr ? text : "<null>";
    std::free(text);
    return s;
}

}  // namespace

TEST(BinParserTest, DecodesKnownFields)
{
    const unsigned char d1234[] = {0x12, 0x34}, ffff[] = {0xFF, 0xFF}, abcd[] = {0xAB, 0xCD},
                        one[] = {0x3F, 0x80, 0, 0};
    parser_ptr p(vek_create_bin_parser(d1234, 2));
    EXPECT_EQ(p->get_int(0, 2), 0x3412);
    EXPECT_EQ(p->get_int(0, 2, true), 0x1234);
    EXPECT_EQ(p->get_int(0, 3), 0);
    EXPECT_FALSE(p->set_offset(2, 0));
    ASSERT_TRUE(p->set_offset(0, 4));
    EXPECT_EQ(p->get_byte(0), 0x23);
    EXPECT_EQ(p->get_byte(1), 0);  // would need a third byte
    parser_ptr m(vek_create_bin_parser(ffff, 2));
    EXPECT_EQ(m->get_int(0, 2), -1);
    EXPECT_EQ(m->get_int(0, 2, true), 65535);
    for (unsigned size : {2u, 1u}) {
        parser_ptr b(vek_create_bin_parser(abcd, size));
        EXPECT_EQ(b->get_bits(0, 4, true), 0xAu);
        EXPECT_EQ(b->get_start_bit(), 4u);
        EXPECT_EQ(b->get_bits(0, 4), size == 2 ? 0xBu : 0u) << size;
    }
    const unsigned char d010203[] = {1, 2, 3};
    EXPECT_EQ(parser_ptr(vek_create_bin_parser(d010203, 3))->get_bits(0, 16), 0x0201u);
    parser_ptr f(vek_create_bin_parser(one, 4));
    EXPECT_EQ(f->get_float(0, true), 1.0f);
    EXPECT_EQ(f->get_double(0, true), 0.0);  // only 4 bytes
}

TEST(BinParserTest, TextsStopAtNulAndStayInBounds)
{
    const char data[] = {'a', 'b', 0, 'c'};
    parser_ptr p(vek_create_bin_parser(data, 4));
    EXPECT_STREQ(p->get_text(0, true), "ab");
    EXPECT_EQ(p->get_offset(), 3u);
    EXPECT_EQ(take(p->get_text2(0, 0)), "c");
    EXPECT_STREQ(p->get_text(0, true), "");  // no NUL before the end
    EXPECT_EQ(take(p->get_text2(0, 0, true)), "c");
    EXPECT_EQ(p->get_offset(), 4u);
    const struct {
        unsigned cursor, bit, offset, size;
        std::string want;
    } cases[] = {{0, 0, 0, 4, "ab"},     {0, 0, 2, 1, ""},       {0, 0, 0, 5, "<null>"},         {3, 0, 1, 0, "<null>"},
                 {3, 0, 2, 0, "<null>"}, {0, 1, 0, 2, "<null>"}, {3, 0, 0xFFFFFFFD, 2, "<null>"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(p->set_offset(c.cursor, c.bit));
        EXPECT_EQ(take(p->get_text2(c.offset, c.size, true)), c.want) << c.cursor << "+" << c.offset;
        if (c.bit != 0) {
            EXPECT_STREQ(p->get_text(c.offset), "");
        }
    }
    EXPECT_EQ(p->get_offset(), 3u);
}

TEST(BinParserTest, MatchesBitModel)
{
    std::mt19937 rng(65);
    for (int trial = 0; trial < 3000; ++trial) {
        bit_model m;
        m.d.resize(1 + rng() % 20);
        for (auto& b : m.d) b = static_cast<unsigned char>(rng());
        parser_ptr p(vek_create_bin_parser(m.d.data(), static_cast<unsigned>(m.d.size())));
        for (int op = 0; op < 40; ++op) {
            unsigned offset = rng() % 8 == 0 ? 0xFFFFFFFFu - rng() % 24 : rng() % (m.d.size() + 3);
            bool invert = rng() & 1, incr = rng() & 1;
            ull pos = m.off + offset;
            switch (rng() % 5) {
                case 0: {
                    unsigned val = rng() % (m.d.size() + 2), b = rng() % 9;
                    bool ok = val < m.d.size() && b < 8;
                    ASSERT_EQ(p->set_offset(val, b), ok);
                    if (ok) m.off = val, m.bit = b;
                    break;
                }
                case 1: {
                    unsigned size = rng() % 10;
                    ASSERT_EQ(p->get_int(offset, size, invert, incr), m.get_int(pos, size, invert, incr));
                    break;
                }
                case 2: {
                    const bool dbl = rng() & 1;
                    ull got = dbl ? bits_of(p->get_double(offset, invert, incr))
                                  : bits_of(p->get_float(offset, invert, incr));
                    ASSERT_EQ(got, ull(m.get_int(pos, dbl ? 8 : 4, invert, incr)));
                    break;
                }
                case 3:
                    ASSERT_EQ(p->get_byte(offset, incr), m.get_bits(pos, 8, false));
                    if (incr && m.fits(pos, 1)) ++m.off;
                    break;
                default: {
                    unsigned count = rng() % 8 == 0 ? 0xFFFFFFFFu - rng() % 16 : rng() % 80;
                    ASSERT_EQ(p->get_bits(offset, count, incr), m.get_bits(pos, count, incr));
                }
            }
            ASSERT_EQ(p->get_offset(), m.off);
            ASSERT_EQ(p->get_start_bit(), m.bit);
            ASSERT_EQ(p->get_unparsed_size(), m.d.size() - m.off);
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
    auto* base = static_cast<unsigned char*>(map);
    ASSERT_EQ(mprotect(base + span, page, PROT_NONE), 0);
    unsigned char* data = base + 1;
    const unsigned size = 0xFFFFFFFFu;
    for (unsigned i = 1; i <= 8; ++i) data[size - i] = static_cast<unsigned char>(0x10 * i + 1);  // ... 21 11
    {
        parser_ptr p(vek_create_bin_parser(data, size));
        EXPECT_FALSE(p->set_offset(size, 0));
        ASSERT_TRUE(p->set_offset(size - 8, 0));
        EXPECT_EQ(p->get_int(0, 8, true), static_cast<long long>(0x8171615141312111ULL));
        EXPECT_EQ(take(p->get_text2(0, 0)).size(), 8u);
        ASSERT_TRUE(p->set_offset(size - 8, 1));
        EXPECT_EQ(p->get_int(0, 8), 0);  // would need the byte after the data
        EXPECT_EQ(p->get_bits(0, 63, true), 0u);
        EXPECT_EQ(p->get_bits(0, 55, true), 0x216282A2C2E202ULL);
        EXPECT_EQ(p->get_byte(0, true), 0x11);
        EXPECT_EQ(p->get_unparsed_size(), 0u);
        EXPECT_EQ(p->get_byte(0) + p->get_bits(0, 1) + p->get_int(0, 2), 0u);
        EXPECT_STREQ(p->get_text(0), "");
    }
    munmap(map, span + page);
}

TEST(BinParserTest, OwnershipAndInterfaces)
{
    unsigned char bytes[] = {1, 2};
    for (bool copy : {false, true}) {
        EXPECT_EQ(vek_create_bin_parser(nullptr, 4, copy), nullptr);
        EXPECT_EQ(vek_create_bin_parser(bytes, 0, copy), nullptr);
    }
    vek::i_bin_parser* copy = vek_create_bin_parser(bytes, 2, true);
    vek::i_bin_parser* shared = vek_create_bin_parser(bytes, 2);
    ASSERT_NE(copy, nullptr);
    bytes[0] = 9;
    EXPECT_EQ(copy->get_byte(0), 1);
    EXPECT_EQ(shared->get_byte(0), 9);
    void* out = &out;
    EXPECT_TRUE(copy->get_interface("i_bin_parser", &out));
    EXPECT_EQ(out, copy);
    for (const char* name : {"i_object", "i_binary", "I_BIN_PARSER", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(copy->get_interface(name, &out));
        EXPECT_EQ(out, nullptr);
    }
    auto_ptr_t<vek::i_string> s(vek_create_string("x"));
    EXPECT_EQ(vek_cast_i_bin_parser(copy), copy);
    EXPECT_EQ(vek_cast_i_bin_parser(s), nullptr);
    EXPECT_EQ(vek_cast_i_bin_parser(nullptr), nullptr);
    EXPECT_EQ(count_of(copy), 1);
    EXPECT_EQ(copy->release(), 0);  // frees its copy (checked by the asan build)
    EXPECT_EQ(shared->release(), 0);
}
