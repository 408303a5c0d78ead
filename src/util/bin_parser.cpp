#include "vek/streams/bin_parser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "object/cast_impl.h"
#include "object/interface_query.h"

namespace vek {

namespace {

// What get_text gives when there is no text.
const char k_empty_text[] = "";

// Eight bytes as a number, the first byte most significant.
unsigned long long load_be64(const unsigned char* p)
{
    unsigned long long v;
    std::memcpy(&v, p, sizeof v);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// The low `n` (1-8) bytes of `v` in reverse order.
unsigned long long reverse_bytes(unsigned long long v, unsigned int n)
{
    return __builtin_bswap64(v) >> (64 - 8 * n);
}

// `n` (1-8) bytes at `pos`, `b` bits into the byte, as a big-endian number;
// the caller has checked that they and the byte after them (when `b` is
// not 0) lie within the `size` bytes. Out of line, as the slow path of
// reads that inline their own for fields away from the end.
__attribute__((noinline)) unsigned long long read_be_at(const unsigned char* data, unsigned long long size,
                                                        unsigned int b, unsigned long long pos, unsigned int n)
{
    const unsigned char* p = data + pos;
    unsigned long long v;
    if (pos + 8 <= size) {
        v = load_be64(p);
        if (b != 0) {
            v <<= b;
            if (n == 8) return v | p[8] >> (8 - b);
        }
        // At least 57 bits are left after the shift, enough for 7 bytes.
        return v >> (64 - 8 * n);
    }
    // Near the end fewer than 8 bytes remain, so n < 8.
    v = 0;
    for (unsigned int i = 0; i < n; ++i) v = v << 8 | p[i];
    if (b != 0) v = (v << b | p[n] >> (8 - b)) & ((1ULL << (8 * n)) - 1);
    return v;
}

// The number get_int gives for the field's bytes `v`, in the order read.
inline long long int_value(unsigned long long v, unsigned int size, bool invert)
{
    // Two little-endian bytes are a signed 16-bit number.
    if (size == 2 && !invert) return static_cast<long long>(v ^ 0x8000) - 0x8000;
    return static_cast<long long>(v);
}

// get_int for a field within nine bytes of the end of the data: 0, with
// the cursor left alone, when it does not fit.
__attribute__((noinline)) long long int_at(const unsigned char* data, unsigned long long size, unsigned int* offset,
                                           unsigned int b, unsigned long long pos, unsigned int n, bool invert,
                                           bool incr_offset)
{
    if (pos + (b != 0 ? 1 : 0) + n > size) return 0;
    const unsigned long long v = read_be_at(data, size, b, pos, n);
    if (incr_offset) *offset += n;
    return int_value(invert ? v : reverse_bytes(v, n), n, invert);
}

// get_bits for a field near the end of the data or longer than 56 bits,
// read byte by byte; 0, with the cursor left alone, when it does not fit.
// Out of line, so that the common path needs no registers saved.
__attribute__((noinline)) unsigned long long bits_at(const unsigned char* data, unsigned long long size,
                                                     unsigned int* offset, unsigned int* start_bit,
                                                     unsigned long long pos, unsigned int bit_count, bool incr_offset)
{
    const unsigned int b = *start_bit;
    const unsigned long long n = (bit_count + 7ULL) / 8;
    // pos < 2^33 and n < 2^29: the sum cannot overflow.
    if (pos + (b != 0 ? 1 : 0) + n > size) return 0;
    // Only the first eight bytes reach the result; later ones shift out.
    const unsigned int kept = n < 8 ? static_cast<unsigned int>(n) : 8;
    unsigned long long v = reverse_bytes(read_be_at(data, size, b, pos, kept), kept);
    const unsigned int r = bit_count % 8;
    if (r != 0 && n <= 8) {
        // The part byte is the most significant one: keep its leading r bits.
        const unsigned int shift = 8 * (kept - 1);
        const unsigned long long part = (v >> shift) >> (8 - r);
        v = (v & ((1ULL << shift) - 1)) | part << shift;
    }
    if (incr_offset) {
        const unsigned long long bits = b + static_cast<unsigned long long>(bit_count);
        *offset += static_cast<unsigned int>(bits / 8);
        *start_bit = static_cast<unsigned int>(bits % 8);
    }
    return v;
}

// The 64 bits that start `b` (0-7) bits into `p`, first bit most
// significant; reads the nine bytes from `p` on.
inline unsigned long long stream_at(const unsigned char* p, unsigned int b)
{
    return load_be64(p) << b | (static_cast<unsigned int>(p[8]) << b) >> 8;
}

}  // namespace

bin_parser::bin_parser(const void* data, unsigned int data_size, bool owns_data)
    : m_data(static_cast<const unsigned char*>(data)),
      m_data_size(data != nullptr ? data_size : 0),
      m_offset(0),
      m_start_bit(0),
      m_owns_data(owns_data)
{
}

bin_parser::~bin_parser()
{
    if (m_owns_data) std::free(const_cast<unsigned char*>(m_data));
}

bool bin_parser::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_bin_parser")) return answer(pp_obj, static_cast<i_bin_parser*>(this));
    return object::get_interface(iface_name, pp_obj);
}

bool bin_parser::set_offset(unsigned int val, unsigned int start_bit)
{
    if (val >= m_data_size || start_bit >= 8) return false;
    m_offset = val;
    m_start_bit = start_bit;
    return true;
}

unsigned int bin_parser::get_offset()
{
    return m_offset;
}

unsigned int bin_parser::get_start_bit()
{
    return m_start_bit;
}

unsigned int bin_parser::get_unparsed_size()
{
    return m_data_size - m_offset;
}

bool bin_parser::fits(unsigned long long pos, unsigned long long n) const
{
    // pos < 2^33 and n < 2^32: the sum cannot overflow.
    return pos + (m_start_bit != 0 ? 1 : 0) + n <= m_data_size;
}

unsigned long long bin_parser::read_be(unsigned long long pos, unsigned int n) const
{
    return read_be_at(m_data, m_data_size, m_start_bit, pos, n);
}

long long bin_parser::get_int(unsigned int offset, unsigned int size, bool invert, bool incr_offset)
{
    const unsigned long long pos = static_cast<unsigned long long>(m_offset) + offset;
    if (pos + 9 <= m_data_size) {
        // Away from the end: the 64-bit window holds any shifted field but
        // one of eight bytes, which takes bits of the ninth. Swapped, the
        // window has the field's first byte lowest.
        const unsigned char* p = m_data + pos;
        const unsigned int b = m_start_bit;
        if (size == 2) {
            if (incr_offset) m_offset += 2;
            const unsigned long long x = load_be64(p) << b;
            // Two little-endian bytes are a signed 16-bit number.
            return invert ? static_cast<long long>(x >> 48) : static_cast<std::int16_t>(__builtin_bswap64(x));
        }
        if (size == 4) {
            if (incr_offset) m_offset += 4;
            const unsigned long long x = load_be64(p) << b;
            return static_cast<long long>(invert ? x >> 32 : static_cast<std::uint32_t>(__builtin_bswap64(x)));
        }
        if (size == 8) {
            if (incr_offset) m_offset += 8;
            const unsigned long long x = stream_at(p, b);
            return static_cast<long long>(invert ? x : __builtin_bswap64(x));
        }
        return 0;
    }
    if (size != 2 && size != 4 && size != 8) return 0;
    return int_at(m_data, m_data_size, &m_offset, m_start_bit, pos, size, invert, incr_offset);
}

bool bin_parser::read_float_bits(unsigned int offset, unsigned int n, bool invert, bool incr_offset,
                                 unsigned long long* bits)
{
    const unsigned long long pos = static_cast<unsigned long long>(m_offset) + offset;
    if (!fits(pos, n)) return false;
    unsigned long long v = read_be(pos, n);
    *bits = invert ? v : reverse_bytes(v, n);
    if (incr_offset) m_offset += n;
    return true;
}

float bin_parser::get_float(unsigned int offset, bool invert, bool incr_offset)
{
    unsigned long long bits;
    if (!read_float_bits(offset, 4, invert, incr_offset, &bits)) return 0.0f;
    const std::uint32_t word = static_cast<std::uint32_t>(bits);
    float f;
    std::memcpy(&f, &word, sizeof f);
    return f;
}

double bin_parser::get_double(unsigned int offset, bool invert, bool incr_offset)
{
    unsigned long long bits;
    if (!read_float_bits(offset, 8, invert, incr_offset, &bits)) return 0.0;
    const std::uint64_t word = bits;
    double d;
    std::memcpy(&d, &word, sizeof d);
    return d;
}

unsigned char bin_parser::get_byte(unsigned int offset, bool incr_offset)
{
    const unsigned long long pos = static_cast<unsigned long long>(m_offset) + offset;
    if (!fits(pos, 1)) return 0;
    if (incr_offset) m_offset += 1;
    return static_cast<unsigned char>(read_be(pos, 1));
}

unsigned long long bin_parser::get_bits(unsigned int offset, unsigned int bit_count, bool incr_offset)
{
    const unsigned long long pos = static_cast<unsigned long long>(m_offset) + offset;
    if (bit_count - 1 < 56 && pos + 8 <= m_data_size) {
        // Away from the end and short enough for one 64-bit window: the
        // start bit and the field take at most 63 of its bits.
        const unsigned int b = m_start_bit;
        const unsigned long long x = load_be64(m_data + pos) << b;
        if (incr_offset) {
            const unsigned int bits = b + bit_count;
            m_offset += bits / 8;
            m_start_bit = bits % 8;
        }
        // Short fields have no bytes to reorder.
        if (bit_count <= 8) return x >> (64 - bit_count);
        // The whole bytes, first byte lowest, and above them the bits after
        // them (none when the whole bytes end the field).
        const unsigned int whole = bit_count & ~7u;
        return (__builtin_bswap64(x) & ((1ULL << whole) - 1)) | ((x << whole) >> 1 >> (63 - bit_count % 8)) << whole;
    }
    if (bit_count == 0) return 0;
    return bits_at(m_data, m_data_size, &m_offset, &m_start_bit, pos, bit_count, incr_offset);
}

const char* bin_parser::get_text(unsigned int offset, bool incr_offset)
{
    const unsigned long long pos = static_cast<unsigned long long>(m_offset) + offset;
    if (m_start_bit != 0 || pos >= m_data_size) return k_empty_text;
    const char* text = reinterpret_cast<const char*>(m_data + pos);
    const void* nul = std::memchr(text, 0, m_data_size - pos);
    if (nul == nullptr) return k_empty_text;
    if (incr_offset) m_offset += static_cast<unsigned int>(static_cast<const char*>(nul) - text) + 1;
    return text;
}

char* bin_parser::get_text2(unsigned int offset, unsigned int size, bool incr_offset)
{
    const unsigned long long pos = static_cast<unsigned long long>(m_offset) + offset;
    if (m_start_bit != 0 || pos > m_data_size) return nullptr;
    unsigned long long n = size != 0 ? size : m_data_size - pos;
    if (n == 0 || pos + n > m_data_size) return nullptr;
    const unsigned char* p = m_data + pos;
    const void* nul = std::memchr(p, 0, n);
    if (nul != nullptr) n = static_cast<const unsigned char*>(nul) - p;
    char* text = static_cast<char*>(std::malloc(n + 1));
    if (text == nullptr) return nullptr;
    std::memcpy(text, p, n);
    text[n] = '\0';
    if (incr_offset) m_offset += static_cast<unsigned int>(n);
    return text;
}

}  // namespace vek

vek::i_bin_parser* vek_create_bin_parser(const void* data, unsigned int data_size, bool copy)
{
    if (data == nullptr || data_size == 0) return nullptr;
    const void* bytes = data;
    if (copy) {
        void* block = std::malloc(data_size);
        if (block == nullptr) return nullptr;
        std::memcpy(block, data, data_size);
        bytes = block;
    }
    vek::bin_parser* parser = new (std::nothrow) vek::bin_parser(bytes, data_size, copy);
    if (parser == nullptr) {
        if (copy) std::free(const_cast<void*>(bytes));
        return nullptr;
    }
    parser->addref();
    return parser;
}

VEK_DEFINE_CAST(vek::i_bin_parser, i_bin_parser)
