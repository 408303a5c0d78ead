#include <cstdlib>
#include <cstring>
#include <new>

#include "vek/util/checksum.h"

namespace {

const char k_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of a Base64 character, or -1 for '=' and anything outside
// the alphabet.
int sextet(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
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
        unsigned long v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
        *p++ = k_alphabet[(v >> 18) & 63];
        *p++ = k_alphabet[(v >> 12) & 63];
        *p++ = k_alphabet[(v >> 6) & 63];
        *p++ = k_alphabet[v & 63];
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
    std::size_t chars = 0;
    while (sextet(static_cast<unsigned char>(text[chars])) >= 0) ++chars;
    // Three bytes per full group of four; a trailing 2 or 3 characters give
    // 1 or 2 bytes, a lone character none.
    std::size_t size = chars / 4 * 3 + (chars % 4 > 1 ? chars % 4 - 1 : 0);
    if (size > 0xFFFFFFFFu) return nullptr;
    if (size == 0) return new_binary(nullptr, 0);
    unsigned char* out = static_cast<unsigned char*>(std::malloc(size));
    if (out == nullptr) return nullptr;
    std::size_t o = 0;
    unsigned long acc = 0;
    int bits = 0;
    for (std::size_t i = 0; i < chars && o < size; ++i) {
        acc = (acc << 6) | static_cast<unsigned long>(sextet(static_cast<unsigned char>(text[i])));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[o++] = static_cast<unsigned char>(acc >> bits);
            acc &= (1ul << bits) - 1;
        }
    }
    return new_binary(out, size);
}
