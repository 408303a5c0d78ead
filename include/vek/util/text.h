// String helpers and wildcard matching for zero-terminated UTF-8 texts.
//
// The character-aware helpers read characters as Tcl's UTF-8 routines do:
// a sequence of at most three bytes is one character, and a byte that does
// not start a valid sequence is a character of its own. A 4-byte form (a
// character outside the Basic Multilingual Plane) counts as two characters,
// its lead byte and the three bytes after it, as Tcl 8.6 counts the two
// halves of its surrogate pair. Case folding is Tcl's (Tcl_UniCharToLower).
//
// Wildcard patterns: '*' matches any run (also none), '?' exactly one unit
// (a byte for the exact matchers, a character for the case-insensitive
// ones), every other unit itself. A leading '!' inverts the result and is
// not part of the pattern.
//
// Null arguments give 0, false or null, except where stated otherwise.
//
// Thread safety: every function here is reentrant and safe for concurrent
// use.
#ifndef VEK_UTIL_TEXT_H
#define VEK_UTIL_TEXT_H

#include "vek/export.h"

// The number of characters in the text.
VEK_API unsigned int vek_strlen(const char* text);
// Points into `text`: the character at `index`, or the terminator when
// `index` is at or past the end; null for a null text. With both `buffer`
// and `count` given, copies the character's bytes into `buffer` (at most 3
// and at most *count of them, no terminator) and sets *count to the
// number of bytes that form the character (0 at the terminator).
VEK_API const char* vek_strat(const char* text, unsigned int index, char* buffer = nullptr,
                              unsigned int* count = nullptr);
// The first `n` characters of `a` and `b` are equal ignoring case; `n` of 0
// means the number of characters of `a` (so the test is whether `b` starts
// with `a`). As with strncasecmp, a text that ends within the `n`
// characters differs from a longer one.
VEK_API bool vek_strnicmp(const char* a, const char* b, unsigned int n);
// The same comparison, as negative, 0 or positive for `a` below, equal to or
// above `b` (by the lower-case code points; 0 when either is null).
VEK_API int vek_strnicmp2(const char* a, const char* b, unsigned int n);
// The byte length of the first character: 1 to 3 (1 for the empty text,
// whose terminator counts as a one-byte character).
VEK_API unsigned int vek_charlen(const char* text);
// Decodes one code point from the bytes at `text`, without checking for
// overlong forms or surrogates: ASCII bytes stand for themselves, a lead
// byte 0xC0-0xF7 starts a 2- to 4-byte sequence, bytes 0xF8-0xFF are
// skipped, and a continuation byte without a lead byte is read as its low
// six bits. True with *code and *next (the byte after the code point) set;
// false at the terminator, also inside a sequence, with *code 0 and *next
// = `text`. `code` and `next` may be null.
VEK_API bool vek_get_unicode_char(const char* text, unsigned int* code, const char** next);
// Heap text: caller frees with free(). `text` without leading and trailing
// spaces, tabs and line feeds (carriage returns stay); null for null.
VEK_API char* vek_trim(const char* text);

// 1 when `val` matches the pattern `wild`, bytes compared exactly, else 0.
VEK_API int vek_wildcmp(const char* wild, const char* val);
// `val` matches `wild` with characters compared ignoring case.
VEK_API bool vek_wildicmp(const char* wild, const char* val);
// `value` matches one of the ','-separated patterns of `filter` (empty items
// are skipped, nothing is trimmed), as vek_wildcmp. True when either is
// null or `filter` is empty: an empty filter admits everything.
VEK_API bool vek_wildcmp_list(const char* filter, const char* value);
// As vek_wildcmp_list, matching as vek_wildicmp.
VEK_API bool vek_wildicmp_list(const char* filter, const char* value);

#endif
