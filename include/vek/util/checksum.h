// Checksums, digests and Base64: stateless functions over byte blocks, and
// the MD5 service that vek_initialize registers as "svc_md5_encoder".
//
// Null data or a zero size gives the start value (CRCs) or null (texts);
// no message is written for any failure.
//
// Thread safety: every function here is safe for concurrent use;
// i_md5_encoder keeps no state between calls and is safe for concurrent use.
#ifndef VEK_UTIL_CHECKSUM_H
#define VEK_UTIL_CHECKSUM_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/binary.h"

namespace vek {

// Named "MD5 encoder".
class VEK_API i_md5_encoder : public virtual i_named_object {
public:
    // Heap text: caller frees with free(). encode_data of the text without
    // its terminator; null for null.
    virtual char* encode_string(const char* src) = 0;
    // Heap text: caller frees with free(). The MD5 digest as 32 lower-case
    // hexadecimal digits; null for null `data` or when memory runs out.
    virtual char* encode_data(const void* data, unsigned int data_length) = 0;

protected:
    ~i_md5_encoder() = default;
};

}  // namespace vek

// The reflected CRC-32 of IEEE 802.3 (0xEDB88320) with neither the initial
// nor the final inversion: the register starts at `start_val` and the
// register is the result, so a checksum continues over several pieces by
// passing the previous result. The usual CRC-32 of a block is
// vek_crc32(data, n, 0xFFFFFFFF) ^ 0xFFFFFFFF.
VEK_API unsigned int vek_crc32(const void* data, unsigned int data_size, unsigned int start_val = 0);
// The reflected CCITT CRC-16 (0x8408), least significant bit first, no
// final inversion, starting at `start_val`.
VEK_API unsigned short vek_crc16(const void* data, unsigned int data_size, unsigned short start_val = 0x1973);

// Heap text: caller frees with free(). Standard Base64 with '=' padding and
// no line breaks; null for null `data`, a size of 0, or no memory.
VEK_API char* vek_base64_encode(const void* data, unsigned int size);
// New reference: caller releases. The bytes of the Base64 `text` up to its
// first '=' or first character outside the alphabet (blanks and line
// breaks included); a trailing group of 2 or 3 characters gives 1 or 2
// bytes, a lone character nothing. Null for null `text` or no memory.
VEK_API vek::i_binary* vek_base64_decode(const char* text);

VEK_API vek::i_md5_encoder* vek_cast_i_md5_encoder(vek::i_object* obj);

#endif
