#include "platform/iconv.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vek {
namespace platform {

namespace {

constexpr std::size_t zero_tail = 4;
const iconv_t no_descriptor = reinterpret_cast<iconv_t>(-1);

// An iconv descriptor, closed on every path out of the conversion.
class descriptor {
public:
    descriptor(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~descriptor()
    {
        if (m_cd != no_descriptor) ::iconv_close(m_cd);
    }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;

    bool valid() const { return m_cd != no_descriptor; }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// The growing heap block that receives converted bytes.
class out_buffer {
public:
    explicit out_buffer(std::size_t capacity)
        : m_data(static_cast<char*>(std::malloc(capacity))), m_capacity(capacity), m_pos(m_data), m_left(capacity)
    {
    }
    ~out_buffer() { std::free(m_data); }
    out_buffer(const out_buffer&) = delete;
    out_buffer& operator=(const out_buffer&) = delete;

    bool valid() const { return m_data != nullptr; }
    char** pos() { return &m_pos; }
    std::size_t* left() { return &m_left; }

    bool grow()
    {
        if (m_capacity > SIZE_MAX / 2) return false;
        std::size_t used = m_capacity - m_left;
        char* bigger = static_cast<char*>(std::realloc(m_data, m_capacity * 2));
        if (bigger == nullptr) return false;
        m_data = bigger;
        m_left += m_capacity;
        m_capacity *= 2;
        m_pos = m_data + used;
        return true;
    }

    // Hands over the block, cut to the converted bytes plus the zero tail.
    void* take(std::size_t* size)
    {
        std::size_t used = m_capacity - m_left;
        if (m_left < zero_tail && !grow()) return nullptr;
        std::memset(m_data + used, 0, zero_tail);
        void* block = m_data;
        if (m_capacity > used + zero_tail) {
            void* smaller = std::realloc(m_data, used + zero_tail);
            if (smaller != nullptr) block = smaller;
        }
        m_data = nullptr;
        *size = used;
        return block;
    }

private:
    char* m_data;
    std::size_t m_capacity;
    char* m_pos;
    std::size_t m_left;
};

// Feeds the input (or, with a null `in`, the final reset) to iconv, growing
// the output as needed. 0 when everything was converted, else the errno that
// stopped it with *in at the offending sequence.
int run(iconv_t cd, char** in, std::size_t* in_left, out_buffer& out)
{
    for (;;) {
        if (::iconv(cd, in, in_left, out.pos(), out.left()) != static_cast<std::size_t>(-1)) return 0;
        if (errno != E2BIG) return errno;
        if (!out.grow()) return ENOMEM;
    }
}

bool is_surrogate(char16_t u)
{
    return (u & 0xF800) == 0xD800;
}

// Writes '?' for the character at *in that `to` cannot represent and steps
// over it. False when it is an unpaired surrogate, which is bad input rather
// than a character.
bool replace_character(iconv_t cd, char** in, std::size_t* in_left, out_buffer& out)
{
    char16_t unit[2];
    std::memcpy(unit, *in, sizeof(char16_t));
    std::size_t skip = sizeof(char16_t);
    if (is_surrogate(unit[0])) {
        if (unit[0] >= 0xDC00 || *in_left < 2 * sizeof(char16_t)) return false;
        std::memcpy(&unit[1], *in + sizeof(char16_t), sizeof(char16_t));
        if (unit[1] < 0xDC00 || unit[1] > 0xDFFF) return false;
        skip *= 2;
    }
    *in += skip;
    *in_left -= skip;
    char16_t question = u'?';
    char* q = reinterpret_cast<char*>(&question);
    std::size_t q_left = sizeof(question);
    return run(cd, &q, &q_left, out) == 0;
}

void* convert(const char* from, const char* to, const void* in, std::size_t in_size, std::size_t capacity, bool replace,
              std::size_t* out_size)
{
    descriptor cd(to, from);
    out_buffer out(capacity);
    if (!cd.valid() || !out.valid()) return nullptr;
    // iconv's interface takes a non-const input pointer but only reads it.
    char* pos = static_cast<char*>(const_cast<void*>(in));
    std::size_t left = in_size;
    for (;;) {
        int err = run(cd.get(), &pos, &left, out);
        if (err == 0) break;
        if (err != EILSEQ || !replace || !replace_character(cd.get(), &pos, &left, out)) return nullptr;
    }
    if (run(cd.get(), nullptr, nullptr, out) != 0) return nullptr;
    return out.take(out_size);
}

}  // namespace

bool locale_charset(char* buf, std::size_t size)
{
    const char* name = ::nl_langinfo(CODESET);
    std::size_t len = name != nullptr ? std::strlen(name) : 0;
    if (len == 0 || len >= size) return false;
    std::memcpy(buf, name, len + 1);
    return true;
}

const char* utf16_charset()
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return "UTF-16BE";
#else
    return "UTF-16LE";
#endif
}

void* iconv_convert(const char* from, const char* to, const void* in, std::size_t in_size, std::size_t* out_size)
{
    // Twice the input holds UTF-8 or any single-byte text as UTF-16, so the
    // common cases convert without growing.
    if (in_size > SIZE_MAX / 4) return nullptr;
    return convert(from, to, in, in_size, 2 * in_size + 16, false, out_size);
}

void* iconv_from_utf16(const char* to, const char16_t* in, std::size_t units, std::size_t* out_size)
{
    // One and a half times the input holds any UTF-16 text as UTF-8.
    if (units > SIZE_MAX / 4) return nullptr;
    std::size_t bytes = units * sizeof(char16_t);
    return convert(utf16_charset(), to, in, bytes, bytes + bytes / 2 + 16, true, out_size);
}

char_decoder::char_decoder(const char* charset)
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    : m_cd(::iconv_open("UTF-32BE", charset))
#else
    : m_cd(::iconv_open("UTF-32LE", charset))
#endif
{
}

char_decoder::~char_decoder()
{
    if (valid()) ::iconv_close(static_cast<iconv_t>(m_cd));
}

bool char_decoder::valid() const
{
    return static_cast<iconv_t>(m_cd) != no_descriptor;
}

long char_decoder::decode(const char* in, std::size_t size)
{
    if (!valid()) return decode_invalid;
    iconv_t cd = static_cast<iconv_t>(m_cd);
    // Each call starts from the initial shift state.
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char32_t out[2];
    char* src = const_cast<char*>(in);
    std::size_t left = size;
    char* dst = reinterpret_cast<char*>(out);
    std::size_t room = sizeof(out);
    if (::iconv(cd, &src, &left, &dst, &room) == static_cast<std::size_t>(-1))
        return errno == EINVAL ? decode_incomplete : decode_invalid;
    if (left != 0 || room != sizeof(out) - sizeof(char32_t)) return decode_invalid;
    return static_cast<long>(out[0]);
}

}  // namespace platform
}  // namespace vek
