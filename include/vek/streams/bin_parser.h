// The bit parser: reads numbers, bit fields and texts out of a block of
// bytes, typically a received datagram or a file's contents.
//
// The parser keeps a cursor made of a byte offset and a start bit (0-7).
// Every read names a byte offset relative to the cursor, `pos` below, and
// may advance the cursor. Bits are counted from the most significant bit
// of each byte: at start bit b a read begins b bits into the byte at pos
// and crosses byte borders, so it takes one byte beyond the bytes it
// returns, and the bounds checks count that byte. Positions and bounds are
// computed in 64 bits: an offset argument near 2^32 is past the end, never
// wrapped back into the data.
//
// A read that would pass the end of the data gives 0, 0.0, "" or null and
// leaves the cursor unchanged; nothing is logged, and the parser never
// reads outside its data.
//
// Thread safety: bin_parser: one thread at a time (no locking).
#ifndef VEK_STREAMS_BIN_PARSER_H
#define VEK_STREAMS_BIN_PARSER_H

#include "vek/object/base.h"

namespace vek {

class VEK_API i_bin_parser : public virtual i_object {
public:
    // False when `val` is not below the data size or `start_bit` is above
    // 7; otherwise moves the cursor there.
    virtual bool set_offset(unsigned int val, unsigned int start_bit = 0) = 0;
    virtual unsigned int get_offset() = 0;
    virtual unsigned int get_start_bit() = 0;
    // The data size minus the cursor offset.
    virtual unsigned int get_unparsed_size() = 0;
    // The `size` (2, 4 or 8) bytes at pos: little-endian, or big-endian
    // with `invert`. Two little-endian bytes are signed (sign-extended);
    // two big-endian bytes and four bytes in either order are unsigned;
    // eight bytes fill the result as they are. 0 for any other size or
    // past the end. `incr_offset` moves the cursor offset on by `size`
    // (not by `offset`).
    virtual long long get_int(unsigned int offset, unsigned int size, bool invert = false,
                              bool incr_offset = false) = 0;
    // The IEEE 754 single at pos, little-endian or with `invert`
    // big-endian; 0.0 past the end. `incr_offset` moves the cursor on by 4.
    virtual float get_float(unsigned int offset, bool invert = false, bool incr_offset = false) = 0;
    // As get_float for an IEEE 754 double of 8 bytes.
    virtual double get_double(unsigned int offset, bool invert = false, bool incr_offset = false) = 0;
    // The byte at pos; 0 past the end. `incr_offset` moves the cursor on
    // by 1.
    virtual unsigned char get_byte(unsigned int offset, bool incr_offset = false) = 0;
    // The `bit_count` bits at pos taken as bytes, the first byte least
    // significant; a trailing part byte of r bits puts its r bits, as a
    // number below 2^r, in that byte's place. Bytes after the eighth do not
    // fit and are dropped (the bounds check still counts them). 0 for a count of 0 or past the
    // end. `incr_offset` moves the cursor on by `bit_count` bits.
    virtual unsigned long long get_bits(unsigned int offset, unsigned int bit_count, bool incr_offset = false) = 0;
    // Owned by the data, valid while it lives: the NUL-terminated text at
    // pos, not copied. A shared "" when the start bit is not 0, pos is
    // past the end or no NUL follows before the end. `incr_offset` moves
    // the cursor on by the text's length + 1.
    virtual const char* get_text(unsigned int offset, bool incr_offset = false) = 0;
    // Heap text: caller frees with free(). A NUL-terminated copy of the
    // `size` bytes at pos (every byte to the end of the data when `size`
    // is 0), cut at the first NUL among them, so possibly "". Null when
    // the start bit is not 0, the bytes pass the end, there are none, or
    // memory runs out. `incr_offset` moves the cursor on by the bytes
    // copied.
    virtual char* get_text2(unsigned int offset, unsigned int size, bool incr_offset = false) = 0;

protected:
    ~i_bin_parser() = default;
};

// Answers "i_bin_parser".
class VEK_API bin_parser : public object, public virtual i_bin_parser {
public:
    // Reads `data_size` bytes at `data` with the cursor at 0. With
    // `owns_data` the parser takes over `data` (malloc'ed) and frees it;
    // otherwise the caller keeps the bytes alive as long as the parser.
    bin_parser(const void* data, unsigned int data_size, bool owns_data);
    virtual ~bin_parser();

    bool get_interface(const char* iface_name, void** pp_obj) override;
    bool set_offset(unsigned int val, unsigned int start_bit = 0) override;
    unsigned int get_offset() override;
    unsigned int get_start_bit() override;
    unsigned int get_unparsed_size() override;
    long long get_int(unsigned int offset, unsigned int size, bool invert = false, bool incr_offset = false) override;
    float get_float(unsigned int offset, bool invert = false, bool incr_offset = false) override;
    double get_double(unsigned int offset, bool invert = false, bool incr_offset = false) override;
    unsigned char get_byte(unsigned int offset, bool incr_offset = false) override;
    unsigned long long get_bits(unsigned int offset, unsigned int bit_count, bool incr_offset = false) override;
    const char* get_text(unsigned int offset, bool incr_offset = false) override;
    char* get_text2(unsigned int offset, unsigned int size, bool incr_offset = false) override;

protected:
    const unsigned char* m_data;
    unsigned int m_data_size;
    unsigned int m_offset;
    unsigned int m_start_bit;
    bool m_owns_data;

private:
    // The `n` (1-8) bytes of a shifted read at byte `pos` as one number,
    // the first byte most significant. The caller has checked the bounds.
    unsigned long long read_be(unsigned long long pos, unsigned int n) const;
    // True when `n` bytes at `pos`, plus the byte a start bit other than 0
    // takes, lie within the data.
    bool fits(unsigned long long pos, unsigned long long n) const;
    // The IEEE 754 pattern of `n` (4 or 8) bytes at `offset`, or false.
    bool read_float_bits(unsigned int offset, unsigned int n, bool invert, bool incr_offset, unsigned long long* bits);
};

}  // namespace vek

// New reference: caller releases. A parser over `data_size` bytes at
// `data`; with `copy` over its own copy of them, otherwise over the
// caller's bytes in place, which must outlive it. Null for null `data`, a
// size of 0, or when the copy cannot be allocated.
VEK_API vek::i_bin_parser* vek_create_bin_parser(const void* data, unsigned int data_size, bool copy = false);

VEK_API vek::i_bin_parser* vek_cast_i_bin_parser(vek::i_object* obj);

#endif
