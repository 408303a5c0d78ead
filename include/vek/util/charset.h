// Charset conversion: between the library's internal UTF-8, UTF-16 and the
// external character set of the process, and the name of the local
// character set that the application declares.
//
// Code pages: 0 is the character set of the process locale (ASCII in the C
// locale), 65001 is UTF-8. Other Windows code page numbers name the same
// character sets in iconv: 20866 KOI8-R, 28591-28599 ISO-8859-1 to -9,
// 54936 GB18030, 65000 UTF-7 and a few more by name, any other n as "CP<n>"
// (1251, 866, 932, ...); a number iconv does not know gives null. UTF-16 texts are host-order
// 16-bit units ended by a 0 unit. A text that is not valid in its source
// character set (a bad or cut-short sequence, an unpaired surrogate) gives
// null; a character that the target character set cannot represent is
// written as '?'. The local character set name is only stored and reported:
// no conversion depends on it.
//
// Thread safety: every function here is safe for concurrent use.
#ifndef VEK_UTIL_CHARSET_H
#define VEK_UTIL_CHARSET_H

#include "vek/export.h"

// Stores a copy of the name. False for null or a name longer than 1022
// characters, which leaves the old name in place.
VEK_API bool vek_set_local_charset(const char* chs);
// The stored name, "cp1251" until changed. Owned by the library, valid for
// the life of the process (a later change does not alter it); not to be
// freed.
VEK_API const char* vek_get_local_charset();

// Heap text: caller frees with free(). The UTF-8 text as UTF-16; the empty
// text gives one 0 unit. Null for null or invalid UTF-8.
VEK_API char16_t* vek_iconv_to_utf16(const char* data);
// Heap text: caller frees with free(). The UTF-16 text as UTF-8. Null for
// null or an unpaired surrogate.
VEK_API char* vek_iconv_from_utf16(const char16_t* data);
// Heap text: caller frees with free(). `mb_str` converted from code page
// `cp1` to code page `cp2`, through UTF-16. Null for null, for an unknown
// code page, or for text that is not valid in `cp1`.
VEK_API char* vek_iconv_impl(unsigned int cp1, unsigned int cp2, const char* mb_str);
// Heap text: caller frees with free(). vek_iconv_impl(0, 65001, data): the
// external text as UTF-8.
VEK_API char* vek_iconv_to_int(const char* data);
// Heap text: caller frees with free(). vek_iconv_impl(65001, 0, data): the
// UTF-8 text in the external character set.
VEK_API char* vek_iconv_to_ext(const char* data);

#endif
