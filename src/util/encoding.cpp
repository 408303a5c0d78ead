#include "vek/util/encoding.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char k_hex_digits[] = "0123456789ABCDEF";

int hex_value(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte that strtoul reads from the two characters at `p` in base 16.
unsigned char pair_value(const char* p)
{
    int high = hex_value(static_cast<unsigned char>(p[0]));
    int low = hex_value(static_cast<unsigned char>(p[1]));
    if (high >= 0 && low >= 0) return static_cast<unsigned char>(high * 16 + low);
    // A sign, leading space, "0x" or an invalid digit: whatever strtoul
    // makes of it, down to its valid prefix.
    char pair[3] = {p[0], p[1], '\0'};
    return static_cast<unsigned char>(std::strtoul(pair, nullptr, 16));
}

void put_hex(char* out, unsigned char byte)
{
    out[0] = k_hex_digits[byte >> 4];
    out[1] = k_hex_digits[byte & 0x0F];
}

// Bytes that vek_text_encode copies unchanged: digits and 'A' to '~'.
bool kept_as_is(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 0x41 && c <= 0x7E);
}

}  // namespace

char* vek_bin2str(void const* data, unsigned int data_size)
{
    if (data == nullptr) return nullptr;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::size_t size = data_size;
    char* text = static_cast<char*>(std::malloc(2 * size + 1));
    if (text == nullptr) return nullptr;
    for (std::size_t i = 0; i < size; ++i) put_hex(text + 2 * i, bytes[i]);
    text[2 * size] = '\0';
    return text;
}

vek::i_binary* vek_str2bin(char const* str)
{
    if (str == nullptr) return nullptr;
    std::size_t length = std::strlen(str);
    if (length % 2 != 0 || length / 2 > UINT_MAX) return nullptr;
    std::size_t size = length / 2;
    unsigned char* block = nullptr;
    if (size != 0) {
        block = static_cast<unsigned char*>(std::malloc(size));
        if (block == nullptr) return nullptr;
        for (std::size_t i = 0; i < size; ++i) block[i] = pair_value(str + 2 * i);
    }
    auto* bin = new (std::nothrow) vek::binary(block, static_cast<unsigned int>(size), true);
    if (bin == nullptr) {
        std::free(block);
        return nullptr;
    }
    bin->addref();
    return bin;
}

char* vek_text_encode(char const* text)
{
    if (text == nullptr || *text == '\0') return nullptr;
    std::size_t length = std::strlen(text);
    char* out = static_cast<char*>(std::malloc(3 * length + 1));
    if (out == nullptr) return nullptr;
    char* p = out;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (kept_as_is(c)) {
            *p++ = static_cast<char>(c);
        } else {
            *p++ = '%';
            put_hex(p, c);
            p += 2;
        }
    }
    *p = '\0';
    return out;
}

char* vek_text_decode(char const* text)
{
    if (text == nullptr || *text == '\0') return nullptr;
    std::size_t length = std::strlen(text);
    char* out = static_cast<char*>(std::malloc(length + 1));
    if (out == nullptr) return nullptr;
    char* p = out;
    for (std::size_t i = 0; i < length;) {
        char c = text[i];
        if (c == '+') {
            *p++ = ' ';
            ++i;
        } else if (c != '%') {
            *p++ = c;
            ++i;
        } else if (length - i > 2) {
            *p++ = static_cast<char>(pair_value(text + i + 1));
            i += 3;
        } else {
            ++i;  // too short to be an escape: dropped
        }
    }
    *p = '\0';
    return out;
}
