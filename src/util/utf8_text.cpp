#include "vek/util/text.h"

#include <tcl.h>

#include <cstdlib>
#include <cstring>

#include "util/utf8_char.h"

namespace {

bool is_surrogate(Tcl_UniChar ch)
{
    return (ch & 0xF800) == 0xD800;
}

// Negative, 0 or positive as `a` sorts below, equal to or above `b`
// ignoring case. Surrogate halves stand for code points above U+FFFF, so
// they sort above every other character.
int compare_ignoring_case(Tcl_UniChar a, Tcl_UniChar b)
{
    if (a == b) return 0;
    if (is_surrogate(a) != is_surrogate(b)) return is_surrogate(a) ? 1 : -1;
    return Tcl_UniCharToLower(a) - Tcl_UniCharToLower(b);
}

bool is_trimmed(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

}  // namespace

unsigned int vek_strlen(const char* text)
{
    return text != nullptr ? static_cast<unsigned int>(Tcl_NumUtfChars(text, -1)) : 0;
}

const char* vek_strat(const char* text, unsigned int index, char* buffer, unsigned int* count)
{
    if (text == nullptr) return nullptr;
    // Tcl_UtfAtIndex would walk past the terminator for an index beyond the
    // end; this is the same walk, stopping there.
    vek::utf8_cursor c = vek::utf8_start(text);
    for (; index > 0 && *c.at != '\0'; --index) vek::utf8_take(c);
    if (buffer != nullptr && count != nullptr) {
        unsigned int len = 0;
        if (*c.at != '\0') {
            vek::utf8_cursor next = c;
            vek::utf8_take(next);
            len = static_cast<unsigned int>(next.at - c.at);
        }
        unsigned int copied = len < *count ? len : *count;
        std::memcpy(buffer, c.at, copied);
        *count = len;
    }
    return c.at;
}

int vek_strnicmp2(const char* a, const char* b, unsigned int n)
{
    if (a == nullptr || b == nullptr) return 0;
    if (n == 0) n = vek_strlen(a);
    // Tcl_UtfNcasecmp trusts both texts to hold n characters, and Tcl reads
    // the two-byte form C0 80 as 0, so it could match a terminator and read
    // on past it; this is the same comparison, ending at a terminator.
    vek::utf8_cursor ca = vek::utf8_start(a);
    vek::utf8_cursor cb = vek::utf8_start(b);
    for (; n > 0; --n) {
        bool a_ends = *ca.at == '\0';
        bool b_ends = *cb.at == '\0';
        if (a_ends || b_ends) return static_cast<int>(b_ends) - static_cast<int>(a_ends);
        int diff = compare_ignoring_case(vek::utf8_take(ca), vek::utf8_take(cb));
        if (diff != 0) return diff;
    }
    return 0;
}

bool vek_strnicmp(const char* a, const char* b, unsigned int n)
{
    return a != nullptr && b != nullptr && vek_strnicmp2(a, b, n) == 0;
}

unsigned int vek_charlen(const char* text)
{
    if (text == nullptr) return 0;
    Tcl_UniChar ch = 0;
    return static_cast<unsigned int>(Tcl_UtfToUniChar(text, &ch));
}

bool vek_get_unicode_char(const char* text, unsigned int* code, const char** next)
{
    unsigned int value = 0;
    if (code != nullptr) *code = 0;
    if (next != nullptr) *next = text;
    if (text == nullptr) return false;
    int expected = 0;  // continuation bytes still to come
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text);; ++p) {
        unsigned char b = *p;
        if (b == 0) return false;
        if (b >= 0xF8) continue;
        if (b < 0x80) {
            value = b;
        } else if (b >= 0xC0) {
            value = b >= 0xF0 ? b & 0x07u : b >= 0xE0 ? b & 0x0Fu : b & 0x1Fu;
            expected = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
            continue;
        } else {
            value = value * 64 + (b & 0x3Fu);
            if (expected > 1) {
                --expected;
                continue;
            }
        }
        if (code != nullptr) *code = value;
        if (next != nullptr) *next = reinterpret_cast<const char*>(p + 1);
        return true;
    }
}

char* vek_trim(const char* text)
{
    if (text == nullptr) return nullptr;
    while (is_trimmed(*text)) ++text;
    std::size_t len = std::strlen(text);
    while (len > 0 && is_trimmed(text[len - 1])) --len;
    char* out = static_cast<char*>(std::malloc(len + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text, len);
    out[len] = '\0';
    return out;
}
