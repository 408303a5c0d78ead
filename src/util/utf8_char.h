// Stepping through UTF-8 text one character at a time as Tcl reads it.
#ifndef VEK_UTIL_UTF8_CHAR_H
#define VEK_UTIL_UTF8_CHAR_H

#include <tcl.h>

namespace vek {

// A position in a text together with the character read before it: Tcl's
// decoder reads the three bytes after a 4-byte lead byte as the low half of
// a surrogate pair only when it knows the high half came just before.
struct utf8_cursor {
    const char* at;
    Tcl_UniChar prev;
};

inline utf8_cursor utf8_start(const char* text)
{
    return utf8_cursor{text, 0};
}

// Reads the character at the cursor and moves past it. At the terminator
// this reads 0 and moves one byte on, so callers test *c.at first.
inline Tcl_UniChar utf8_take(utf8_cursor& c)
{
    unsigned char b = static_cast<unsigned char>(*c.at);
    if (b < 0x80) {  // ASCII reads as itself, as in Tcl, without the call
        c.prev = b;
        ++c.at;
    } else {
        c.at += Tcl_UtfToUniChar(c.at, &c.prev);
    }
    return c.prev;
}

inline bool utf8_same_ignoring_case(Tcl_UniChar a, Tcl_UniChar b)
{
    return a == b || Tcl_UniCharToLower(a) == Tcl_UniCharToLower(b);
}

}  // namespace vek

#endif
