#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vek/util/checksum.h"

namespace {

constexpr char k_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12-bit value, so that a group of three bytes
// takes two lookups.
struct pair_table {
    char at[4096][2];
};

constexpr pair_table make_pairs()
{
    pair_table t{};
    for (int v = 0; v < 4096; ++v) {
        t.at[v][0] = k_alphabet[v >> 6];
        t.at[v][1] = k_alphabet[v & 63];
    }
    return t;
}

constexpr pair_table k_pairs = make_pairs();

// A character's 6-bit value placed where it lands in a group's 24 bits, one
// table per position in the group. Every character outside the alphabet
// ('=' and NUL among them) sets the top bit instead, so that one test on the
// four values combined finds a group that ends the decoding.
struct decode_tables {
    std::uint32_t at[4][256];
};

const std::uint32_t k_stop = 0x80000000u;

constexpr int sextet(int c)
{
    return c >= 'A' && c <= 'Z'   ? c - 'A'
           : c >= 'a' && c <= 'z' ? c - 'a' + 26
           : c >= '0' && c <= '9' ? c - '0' + 52
           : c == '+'             ? 62
           : c == '/'             ? 63
                                  : -1;
}

constexpr decode_tables make_tables()
{
    decode_tables t{};
    for (int c = 0; c < 256; ++c) {
        for (int k = 0; k < 4; ++k) {
            const int s = sextet(c);
            t.at[k][c] = s < 0 ? k_stop : static_cast<std::uint32_t>(s) << (18 - 6 * k);
        }
    }
    return t;
}

constexpr decode_tables k_tables = make_tables();

// The 24 bits of the group at `p`; k_stop is set when one of its four
// characters is outside the alphabet.
inline std::uint32_t group_bits(const unsigned char* p)
{
    return k_tables.at[0][p[0]] | k_tables.at[1][p[1]] | k_tables.at[2][p[2]] | k_tables.at[3][p[3]];
}

inline void store_be32(unsigned char* out, std::uint32_t v)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    std::memcpy(out, &v, sizeof v);
}

inline unsigned char* put_bytes(unsigned char* out, std::uint32_t bits, unsigned int n)
{
    for (unsigned int i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(bits >> (16 - 8 * i));
    return out + n;
}

// The last, short group: its leading characters up to the first one
// outside the alphabet, at most `avail` of them. Two or three characters
// give one or two bytes; one gives none.
unsigned char* put_tail(unsigned char* out, const unsigned char* p, std::size_t avail)
{
    std::uint32_t bits = 0;
    unsigned int k = 0;
    for (; k < avail && k < 4; ++k) {
        const std::uint32_t v = k_tables.at[k][p[k]];
        if (v & k_stop) break;
        bits |= v;
    }
    return put_bytes(out, bits, k > 1 ? k - 1 : 0);
}

// New reference: caller releases. A buffer that takes over `block` (null
// when `size` is 0); null, with the block freed, when memory runs out.
vek::i_binary* new_binary(void* block, std::size_t size)
{
    auto* bin = new (std::nothrow) vek::binary(block, static_cast<unsigned int>(size), true);
    if (bin == nullptr) {
        std::free(block);
        return nullptr;
    }
    bin->addref();
    return bin;
}

}  // namespace

char* vek_base64_encode(const void* data, unsigned int size)
{
    if (data == nullptr || size == 0) return nullptr;
    const unsigned char* in = static_cast<const unsigned char*>(data);
    std::size_t groups = (static_cast<std::size_t>(size) + 2) / 3;
    char* out = static_cast<char*>(std::malloc(groups * 4 + 1));
    if (out == nullptr) return nullptr;
    char* p = out;
    unsigned int i = 0;
    for (; size - i >= 3; i += 3) {
        const unsigned int v = in[i] << 16 | in[i + 1] << 8 | in[i + 2];
        std::memcpy(p, k_pairs.at[v >> 12], 2);
        std::memcpy(p + 2, k_pairs.at[v & 0xFFF], 2);
        p += 4;
    }
    if (i < size) {
        bool two = size - i == 2;
        unsigned long v = (in[i] << 16) | (two ? in[i + 1] << 8 : 0);
        *p++ = k_alphabet[(v >> 18) & 63];
        *p++ = k_alphabet[(v >> 12) & 63];
        *p++ = two ? k_alphabet[(v >> 6) & 63] : '=';
        *p++ = '=';
    }
    *p = '\0';
    return out;
}

vek::i_binary* vek_base64_decode(const char* text)
{
    if (text == nullptr) return nullptr;
    // The text's length bounds the output, so the bytes are decoded straight
    // into their block in one walk; the block shrinks afterwards when the
    // decoding stopped well before the end of the text.
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const std::size_t len = std::strlen(text);
    const std::size_t cap = len / 4 * 3 + 3;
    unsigned char* block = static_cast<unsigned char*>(std::malloc(cap));
    if (block == nullptr) return nullptr;
    unsigned char* out = block;
    std::size_t i = 0;
    // Two groups a step, each stored as four bytes of which the fourth is
    // overwritten next (the block has room for it).
    for (; len - i >= 8; i += 8) {
        const std::uint32_t a = group_bits(in + i), b = group_bits(in + i + 4);
        if ((a | b) & k_stop) break;
        store_be32(out, a << 8);
        store_be32(out + 3, b << 8);
        out += 6;
    }
    for (; len - i >= 4; i += 4) {
        const std::uint32_t bits = group_bits(in + i);
        if (bits & k_stop) break;
        out = put_bytes(out, bits, 3);
    }
    out = put_tail(out, in + i, len - i);
    const std::size_t size = static_cast<std::size_t>(out - block);
    if (size == 0 || size > UINT_MAX) {
        std::free(block);
        return size == 0 ? new_binary(nullptr, 0) : nullptr;
    }
    if (cap - size > 256) {
        void* smaller = std::realloc(block, size);
        if (smaller != nullptr) block = static_cast<unsigned char*>(smaller);
    }
    return new_binary(block, size);
}
