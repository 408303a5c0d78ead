#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include <vek/vek_core.h>

namespace {

using heap_text = std::unique_ptr<char, decltype(&std::free)>;

const std::string euro = "\xE2\x82\xAC";
const std::string grin = "\xF0\x9F\x98\x8A";  // U+1F60A; U+1F61A differs only in the last byte
const std::string kiss = "\xF0\x9F\x98\x9A";  // (0x8A and 0x9A are S and s with caron in cp1252)

// An exactly sized heap copy, so the sanitizer build sees any read past the
// terminator.
std::unique_ptr<char[]> exact(const std::string& s)
{
    std::unique_ptr<char[]> p(new char[s.size() + 1]);
    std::memcpy(p.get(), s.c_str(), s.size() + 1);
    return p;
}

}  // namespace

TEST(Wildcard, PatternsAndListsOfAnySize)
{
    // Pattern, value, vek_wildcmp, vek_wildicmp. '?' is a byte for the first, a character for the second,
    // and Tcl reads a 4-byte form as two characters; invalid UTF-8 is matched byte by byte; Tcl folds
    // U+0130 to an ASCII i. Recursion or a copy per star would show in the megabyte rows as a stack
    // overflow or a long run.
    const std::string mb(1 << 20, 'a'), mbb = mb + "b";
    // clang-format off
    const std::tuple<std::string, std::string, int, bool> rows[] = {
        {"*.xml", "a.xml", 1, true}, {"*.xml", ".xml", 1, true}, {"*.xml", "a.XML", 0, true},
        {"!*.tmp", "a.tmp", 0, false}, {"!*.tmp", "a.txt", 1, true}, {"a?c", "abc", 1, true}, {"a?c", "ac", 0, false},
        {"*", "", 1, true}, {"", "", 1, true}, {"", "a", 0, false}, {"!", "", 0, false}, {"**a*", "xxa", 1, true},
        {"*a*b*c*", "xaxxbxcx", 1, true}, {"*a*b*c*", "xaxcxb", 0, false}, {" b", "b", 0, false},
        {"\xD1\x89*", "\xD0\xA9\xD0\xA3\xD0\x9A\xD0\x90", 0, true}, {"?\xD1\x83", "\xD0\xA9\xD1\x83", 0, true},
        {"??\xD1\x83", "\xD0\xA9\xD1\x83", 1, false}, {"\x80*", "\x80\xFF\xC3", 1, true},
        {"\xC3?", "\xC3\xA9", 1, false}, {grin, kiss, 0, false}, {"*" + grin, "xx" + grin, 1, true},
        {"??", grin, 0, true}, {"?", grin, 0, false}, {"i?", "\xC4\xB0x", 0, true},
        {std::string(1 << 20, '?') + "b", mbb, 1, true}, {std::string(1 << 19, '*') + "b", mbb, 1, true},
        {"*a*b", mbb, 1, true}, {"*c" + mb, mbb, 0, false}};
    // clang-format on
    for (const auto& [wild, val, exact_result, nocase_result] : rows) {
        auto w = exact(wild), v = exact(val);
        SCOPED_TRACE(wild.substr(0, 30) + " / " + val.substr(0, 30));
        EXPECT_EQ(vek_wildcmp(w.get(), v.get()), exact_result);
        EXPECT_EQ(vek_wildicmp(w.get(), v.get()), nocase_result);
        // Items are matched in place, up to the comma, and are not trimmed;
        // empty ones are skipped. No value here is "x".
        const std::string list = "x,," + wild + ",x";
        EXPECT_EQ(vek_wildcmp_list(list.c_str(), v.get()), exact_result == 1 && !wild.empty());
        EXPECT_EQ(vek_wildicmp_list(list.c_str(), v.get()), nocase_result && !wild.empty());
    }
    EXPECT_EQ(vek_wildcmp(nullptr, "a") + vek_wildcmp("*", nullptr), 0);
    EXPECT_FALSE(vek_wildicmp(nullptr, "a") || vek_wildicmp("!x", nullptr));  // null is not inverted
    EXPECT_TRUE(vek_wildcmp_list(nullptr, "x") && vek_wildicmp_list("y", nullptr));
}

TEST(Utf8Text, CountsIndexesAndDecodesCharacters)
{
    // Text; characters and bytes of the first, as Tcl counts them; whether a
    // code point is read, the code point and the bytes it took.
    // clang-format off
    const std::tuple<std::string, unsigned int, unsigned int, bool, unsigned int, unsigned int> rows[] = {
        {"\xD0\xA9\xD1\x83\xD0\xBA\xD0\xB0", 4, 2, true, 0x429, 2}, {"", 0, 1, false, 0, 0},
        {"abc", 3, 1, true, 0x61, 1}, {euro, 1, 3, true, 0x20AC, 3}, {grin, 2, 1, true, 0x1F60A, 4},
        {"\xBF\x80", 2, 1, true, 0x3F, 1}, {"\xE2\x82", 2, 1, false, 0, 0}, {"\xE2\x82x", 3, 1, true, 0x78, 3},
        {"\xF8\xFF", 2, 1, false, 0, 0}, {"\xF8\xFF\x41", 3, 1, true, 0x41, 3}, {"\xC0\x80", 1, 2, true, 0, 2}};
    // clang-format on
    for (const auto& [text, chars, first_len, ok, expected_code, advance] : rows) {
        auto t = exact(text);
        EXPECT_EQ(std::make_pair(vek_strlen(t.get()), vek_charlen(t.get())), std::make_pair(chars, first_len)) << text;
        // The characters' byte counts add up to the text; past the end is
        // the terminator, with nothing copied and no terminator written.
        unsigned int total = 0;
        for (unsigned int i = 0; i <= chars + 1; ++i) {
            char buf[4] = {'#', '#', '#', '#'};
            unsigned int count = sizeof buf;
            const char* at = vek_strat(t.get(), i, buf, &count);
            ASSERT_EQ(at, t.get() + std::min<std::size_t>(total, text.size())) << text << " @" << i;
            EXPECT_EQ(std::string(buf, count + 1), std::string(at, count) + '#');
            total += count;
        }
        EXPECT_EQ(total, text.size());
        unsigned int code = 99;
        const char* next = nullptr;
        const bool read = vek_get_unicode_char(t.get(), &code, &next);
        EXPECT_EQ(std::make_tuple(read, code, next), std::make_tuple(ok, expected_code, t.get() + advance)) << text;
    }
    char buf[3] = {'#', '#', '#'};
    unsigned int count = 1;  // room for one byte: one is copied, the character's size returned
    EXPECT_EQ(vek_strat(euro.c_str(), 0, buf, &count), euro.c_str());
    EXPECT_EQ(std::to_string(count) + std::string(buf, 3), "3\xE2##");
    EXPECT_TRUE(vek_strat(nullptr, 0, buf, &count) == nullptr && vek_strlen(nullptr) + vek_charlen(nullptr) == 0);
    EXPECT_TRUE(vek_get_unicode_char("x", nullptr, nullptr) && !vek_get_unicode_char(nullptr, nullptr, nullptr));
}

TEST(Utf8Text, ComparesIgnoringCase)
{
    // a, b, n, the sign of the comparison: ЩУКА and щука, ..., U+FF21 below U+1F60A.
    // clang-format off
    const std::tuple<std::string, std::string, unsigned int, int> rows[] = {
        {"\xD0\xA9\xD0\xA3\xD0\x9A\xD0\x90", "\xD1\x89\xD1\x83\xD0\xBA\xD0\xB0", 0, 0},
        {"abc", "ABD", 2, 0}, {"abc", "ABD", 3, -1}, {"ab", "abc", 5, -1}, {"abc", "ab", 0, 1}, {"", "x", 0, 0},
        {"x", "", 1, 1}, {"\xC0\x80x", "", 0, 1}, {"\xE2\x82", "\xE2\x82", 9, 0}, {"\xEF\xBC\xA1", grin, 1, -1}};
    // clang-format on
    for (const auto& [a, b, n, sign] : rows) {
        auto ca = exact(a), cb = exact(b);
        int got = vek_strnicmp2(ca.get(), cb.get(), n);
        EXPECT_EQ((got > 0) - (got < 0), sign) << a << " / " << b;
        EXPECT_EQ(vek_strnicmp(ca.get(), cb.get(), n), sign == 0);
    }
    EXPECT_FALSE(vek_strnicmp(nullptr, "a", 0) || vek_strnicmp2("a", nullptr, 1) != 0);
}

TEST(Utf8Text, TrimsSpacesTabsAndLineFeedsOnly)
{
    // clang-format off
    const std::pair<const char*, const char*> trims[] = {
        {"\tabc\r\n", "abc\r"}, {" \n\t \n", ""}, {"", ""}, {" a \t b ", "a \t b"}, {"\n\x80\xFF\n", "\x80\xFF"}};
    // clang-format on
    for (const auto& [text, trimmed] : trims) EXPECT_STREQ(heap_text(vek_trim(text), &std::free).get(), trimmed);
    EXPECT_EQ(vek_trim(nullptr), nullptr);
}
