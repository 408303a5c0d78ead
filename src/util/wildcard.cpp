#include "vek/util/text.h"

#include <cstring>

#include "util/utf8_char.h"

namespace {

// Both matchers take the pattern as the byte range [p, end), so list items
// are matched in place, and keep only the position after the most recent
// '*' and the value position it is being tried at: a mismatch goes back
// there with the value advanced by one unit. Constant memory, no recursion;
// time is at worst the product of the two lengths.

bool match_bytes(const char* p, const char* end, const char* v)
{
    const char* star_p = nullptr;
    const char* star_v = nullptr;
    while (*v != '\0') {
        if (p != end && *p == '*') {
            if (++p == end) return true;
            star_p = p;
            star_v = v;
        } else if (p != end && (*p == '?' || *p == *v)) {
            ++p;
            ++v;
        } else if (star_p != nullptr) {
            p = star_p;
            v = ++star_v;
        } else {
            return false;
        }
    }
    while (p != end && *p == '*') ++p;
    return p == end;
}

unsigned char ascii_lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Matches one pattern character against one value character and moves both
// cursors past them; leaves them where they were on a mismatch.
bool match_char(vek::utf8_cursor& p, vek::utf8_cursor& v)
{
    // Two ASCII bytes are two whole characters, and Tcl folds ASCII as
    // tolower does: settle them without calling into Tcl.
    unsigned char pb = static_cast<unsigned char>(*p.at);
    unsigned char vb = static_cast<unsigned char>(*v.at);
    if (pb < 0x80 && vb < 0x80) {
        if (pb != '?' && ascii_lower(pb) != ascii_lower(vb)) return false;
        p = vek::utf8_cursor{p.at + 1, pb};
        v = vek::utf8_cursor{v.at + 1, vb};
        return true;
    }
    vek::utf8_cursor pn = p;
    vek::utf8_cursor vn = v;
    bool any = *p.at == '?';
    Tcl_UniChar pc = vek::utf8_take(pn);
    Tcl_UniChar vc = vek::utf8_take(vn);
    if (!any && !vek::utf8_same_ignoring_case(pc, vc)) return false;
    p = pn;
    v = vn;
    return true;
}

bool match_chars(const char* pattern, const char* end, const char* value)
{
    vek::utf8_cursor p = vek::utf8_start(pattern);
    vek::utf8_cursor v = vek::utf8_start(value);
    vek::utf8_cursor star_p{};
    vek::utf8_cursor star_v{};
    bool star = false;
    while (*v.at != '\0') {
        if (p.at != end && *p.at == '*') {
            vek::utf8_take(p);
            if (p.at == end) return true;
            star = true;
            star_p = p;
            star_v = v;
        } else if (p.at == end || !match_char(p, v)) {
            if (!star) return false;
            vek::utf8_take(star_v);
            p = star_p;
            v = star_v;
        }
    }
    while (p.at != end && *p.at == '*') ++p.at;
    return p.at == end;
}

bool matches(const char* wild, const char* end, const char* val, bool ignore_case)
{
    bool invert = wild != end && *wild == '!';
    if (invert) ++wild;
    bool hit = ignore_case ? match_chars(wild, end, val) : match_bytes(wild, end, val);
    return hit != invert;
}

bool matches_list(const char* filter, const char* value, bool ignore_case)
{
    if (filter == nullptr || value == nullptr || *filter == '\0') return true;
    for (const char* item = filter;;) {
        const char* end = std::strchr(item, ',');
        if (end == nullptr) end = item + std::strlen(item);
        if (end != item && matches(item, end, value, ignore_case)) return true;
        if (*end == '\0') return false;
        item = end + 1;
    }
}

}  // namespace

int vek_wildcmp(const char* wild, const char* val)
{
    if (wild == nullptr || val == nullptr) return 0;
    return matches(wild, wild + std::strlen(wild), val, false) ? 1 : 0;
}

bool vek_wildicmp(const char* wild, const char* val)
{
    if (wild == nullptr || val == nullptr) return false;
    return matches(wild, wild + std::strlen(wild), val, true);
}

bool vek_wildcmp_list(const char* filter, const char* value)
{
    return matches_list(filter, value, false);
}

bool vek_wildicmp_list(const char* filter, const char* value)
{
    return matches_list(filter, value, true);
}
