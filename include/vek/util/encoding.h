// Re-encodings of byte data as text: upper-case hexadecimal, the %XX text
// encoding of URLs and form fields, and the transliteration of Russian
// Cyrillic to Latin letters.
//
// A null argument (and for the text functions an empty text) gives a null
// result; nothing is logged. Allocation failures give null too.
//
// Thread safety: every function here is safe for concurrent use.
#ifndef VEK_UTIL_ENCODING_H
#define VEK_UTIL_ENCODING_H

#include "vek/export.h"
#include "vek/object/binary.h"

// Heap text: caller frees with free(). Two upper-case hexadecimal digits
// per byte, no separators; "" for a size of 0.
VEK_API char* vek_bin2str(void const* data, unsigned int data_size);
// New reference: caller releases. The bytes of a hexadecimal text, one per
// pair of characters, read as strtoul reads the two-character text (so an
// invalid pair gives the value of its valid prefix, possibly 0). Null for an
// odd length; an empty buffer for "".
VEK_API vek::i_binary* vek_str2bin(char const* str);
// Heap text: caller frees with free(). Digits and the bytes 'A' (0x41) to
// '~' (0x7E) unchanged, every other byte as '%' and two upper-case
// hexadecimal digits.
VEK_API char* vek_text_encode(char const* text);
// Heap text: caller frees with free(). '+' becomes a space and "%XX" the
// byte XX (read as vek_str2bin reads a pair); a '%' with fewer than two
// characters after it is dropped. A decoded zero byte ends the text.
VEK_API char* vek_text_decode(char const* text);
// Heap text: caller frees with free(). Each Russian Cyrillic letter (UTF-8)
// becomes its Latin spelling ("щ" -> "sch", "Ж" -> "JZ", both signs -> "'");
// every other byte is copied unchanged, so no stray or incomplete UTF-8
// sequence hides the letter that follows it.
VEK_API char* vek_do_translit(char const* text);

#endif
