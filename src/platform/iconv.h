// Character set conversion through iconv, and the character set of the
// process locale.
//
// Every conversion opens a descriptor of its own and closes it before
// returning, so conversions may run in any number of threads at once.
#ifndef VEK_PLATFORM_ICONV_H
#define VEK_PLATFORM_ICONV_H

#include <cstddef>

namespace vek {
namespace platform {

// Writes iconv's name for the character set of the current locale
// (nl_langinfo(CODESET): "ANSI_X3.4-1968" in the C locale, "UTF-8" in a
// UTF-8 locale) into `buf`. False when it does not fit.
bool locale_charset(char* buf, std::size_t size);

// iconv's name for UTF-16 in host byte order, without a byte order mark.
const char* utf16_charset();

// Converts `in_size` bytes from the character set `from` to `to`.
// Heap block: caller frees with free(). The converted bytes followed by
// four zero bytes (a terminator for any unit size); their count without the
// zeros goes to *out_size. Null when a name is unknown to iconv, when the
// input holds a sequence that is invalid or cut short in `from`, when a
// character has no form in `to`, or when memory runs out.
void* iconv_convert(const char* from, const char* to, const void* in, std::size_t in_size, std::size_t* out_size);

// As iconv_convert from `units` host-order UTF-16 units, except that a
// character with no form in `to` is written as '?' (one '?' for a surrogate
// pair). An unpaired surrogate still gives null.
void* iconv_from_utf16(const char* to, const char16_t* in, std::size_t units, std::size_t* out_size);

// Decodes one character at a time from a character set, for a parser that
// meets the text byte by byte. One thread at a time.
class char_decoder {
public:
    explicit char_decoder(const char* charset);
    ~char_decoder();
    char_decoder(const char_decoder&) = delete;
    char_decoder& operator=(const char_decoder&) = delete;

    // False when iconv does not know the character set.
    bool valid() const;
    // The code point of the `size` bytes at `in` when they are exactly one
    // character; decode_incomplete when they begin a longer one;
    // decode_invalid otherwise (including bytes giving two characters).
    long decode(const char* in, std::size_t size);

    static constexpr long decode_invalid = -1;
    static constexpr long decode_incomplete = -2;

private:
    void* m_cd;
};

}  // namespace platform
}  // namespace vek

#endif
