#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>

#include <vek/vek_core.h>

namespace {

const char* const euro = "\xE2\x82\xAC";
const char* const grin = "\xF0\x9F\x98\x8A";  // U+1F60A; U+1F61A differs only in the last byte
const char* const kiss = "\xF0\x9F\x98\x9A";  // (0x8A and 0x9A are S and s with caron in cp1252)

// An exactly sized heap copy, so the sanitizer build sees any read past the
// terminator.
std::unique_ptr<char[]> exact(const std::string& s)
{
    std::unique_ptr<char[]> p(new char[s.size() + 1]);
    std::memcpy(p.get(), s.c_str(), s.size() + 1);
    return p;
}

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

// fnmatch with flags 0 agrees with the matchers on '*' and '?' over ASCII.
// It differs on '[' and '\\' (special there, literal here), on a leading '!'
// (literal there, inverting here) and, in a UTF-8 locale, on '?' before a
// multibyte character (one character there, one byte in vek_wildcmp): the
// alphabet leaves those out.
TEST(Wildcard, AgreesWithFnmatchOnRandomPatterns)
{
    std::mt19937 rng(7);
    auto make = [&](const char* alphabet, int max_len) {
        std::string s(rng() % (max_len + 1), ' ');
        for (char& c : s) c = alphabet[rng() % std::strlen(alphabet)];
        return s;
    };
    for (int i = 0; i < 10000; ++i) {
        std::string wild = make("ab*?", 8), val = make("ab", 10);
        bool expected = fnmatch(wild.c_str(), val.c_str(), 0) == 0;
        ASSERT_EQ(vek_wildcmp(wild.c_str(), val.c_str()), expected ? 1 : 0) << wild << " / " << val;
        // Empty items are skipped, so an empty pattern in a list matches nothing.
        ASSERT_EQ(vek_wildcmp_list((",," + wild + ",").c_str(), val.c_str()), expected && !wild.empty());
        std::string iwild = make("abAB*?", 8), ival = make("abAB", 10);
        bool iexpected = fnmatch(lower(iwild).c_str(), lower(ival).c_str(), 0) == 0;
        ASSERT_EQ(vek_wildicmp(iwild.c_str(), ival.c_str()), iexpected) << iwild << " / " << ival;
    }
}

TEST(Wildcard, PatternsAndLists)
{
    const std::string star = "*";
    // Pattern, value, vek_wildcmp, vek_wildicmp. '?' is a byte for the first, a character for the second,
    // and Tcl reads a 4-byte form as two characters; invalid UTF-8 is matched byte by byte; Tcl folds
    // U+0130 to an ASCII i.
    // clang-format off
    const std::tuple<std::string, std::string, int, bool> rows[] = {
        {"*.xml", "a.xml", 1, true}, {"*.xml", ".xml", 1, true}, {"*.xml", "a.XML", 0, true},
        {"!*.tmp", "a.tmp", 0, false}, {"!*.tmp", "a.txt", 1, true}, {"a?c", "abc", 1, true}, {"a?c", "ac", 0, false},
        {"*", "", 1, true}, {"", "", 1, true}, {"", "a", 0, false}, {"!", "", 0, false}, {"**a*", "xxa", 1, true},
        {"*a*b*c*", "xaxxbxcx", 1, true}, {"*a*b*c*", "xaxcxb", 0, false},
        {"\xD1\x89*", "\xD0\xA9\xD0\xA3\xD0\x9A\xD0\x90", 0, true}, {"?\xD1\x83", "\xD0\xA9\xD1\x83", 0, true},
        {"??\xD1\x83", "\xD0\xA9\xD1\x83", 1, false}, {star + euro, "x" + std::string(euro), 1, true},
        {"\x80*", "\x80\xFF\xC3", 1, true}, {"\xC3?", "\xC3\xA9", 1, false}, {grin, kiss, 0, false},
        {star + grin, "x" + std::string(kiss), 0, false}, {star + grin, "xx" + std::string(grin), 1, true},
        {"??", grin, 0, true}, {"?", grin, 0, false}, {"i?", "\xC4\xB0x", 0, true}};
    // clang-format on
    for (const auto& [wild, val, exact_result, nocase_result] : rows) {
        auto w = exact(wild), v = exact(val);
        EXPECT_EQ(vek_wildcmp(w.get(), v.get()), exact_result) << wild << " / " << val;
        EXPECT_EQ(vek_wildicmp(w.get(), v.get()), nocase_result) << wild << " / " << val;
    }
    EXPECT_EQ(vek_wildcmp(nullptr, "a") + vek_wildcmp("*", nullptr), 0);
    EXPECT_FALSE(vek_wildicmp(nullptr, "a") || vek_wildicmp("!x", nullptr));  // null is not inverted

    const std::string long_item(2000, '?');  // longer than any item buffer
    // clang-format off
    const std::tuple<std::string, std::string, bool, bool> lists[] = {
        {"*.xml,*.tcl", "x.tcl", true, true}, {",,*.tcl", "x.tcl", true, true}, {"", "x", true, true},
        {",,", "", false, false}, {"*.XML", "a.xml", false, true}, {"!*.tmp,a*", "a.tmp", true, true},
        {"a, b", "b", false, false}, {"x," + long_item + ",y", std::string(2000, 'z'), true, true}};
    // clang-format on
    for (const auto& [filter, val, exact_result, nocase_result] : lists) {
        EXPECT_EQ(vek_wildcmp_list(filter.c_str(), val.c_str()), exact_result) << filter;
        EXPECT_EQ(vek_wildicmp_list(filter.c_str(), val.c_str()), nocase_result) << filter;
    }
    EXPECT_TRUE(vek_wildcmp_list(nullptr, "x") && vek_wildicmp_list("y", nullptr));
}

// Recursion or a copy per star would show here as a stack overflow or a
// long run.
TEST(Wildcard, MegabytePatternsAndValues)
{
    const std::string mb(1 << 20, 'a');
    const std::string val = mb + "b";
    const std::string wilds[] = {
        "*b", "*a*b", mb + "?", std::string(1 << 20, '?') + "b", "*" + mb + "b", std::string(1 << 19, '*') + "b"};
    for (const std::string& w : wilds) {
        EXPECT_EQ(vek_wildcmp(w.c_str(), val.c_str()), 1);
        EXPECT_TRUE(vek_wildicmp(w.c_str(), val.c_str()));
        EXPECT_TRUE(vek_wildcmp_list(("x," + w).c_str(), val.c_str()));
    }
    EXPECT_EQ(vek_wildcmp((mb + "c").c_str(), val.c_str()), 0);
    EXPECT_FALSE(vek_wildicmp(("*c" + mb).c_str(), val.c_str()));
}

TEST(Utf8Text, CountsAndIndexesCharacters)
{
    // Text, characters, bytes of the first.
    // clang-format off
    const std::tuple<std::string, unsigned int, unsigned int> rows[] = {
        {"\xD0\xA9\xD1\x83\xD0\xBA\xD0\xB0", 4, 2}, {"", 0, 1}, {"abc", 3, 1}, {euro, 1, 3}, {grin, 2, 1},
        {"\x80\x80", 2, 1}, {"\xE2\x82", 2, 1}, {"\xE2\x82x", 3, 1}, {"\xF8\xFF", 2, 1}, {"\xC0\x80", 1, 2}};
    // clang-format on
    for (const auto& [text, chars, first_len] : rows) {
        auto t = exact(text);
        EXPECT_EQ(vek_strlen(t.get()), chars) << text;
        EXPECT_EQ(vek_charlen(t.get()), first_len) << text;
        // The characters' byte counts add up to the text; past the end is
        // the terminator, with nothing copied.
        unsigned int total = 0;
        for (unsigned int i = 0; i <= chars + 1; ++i) {
            char buf[4] = {'#', '#', '#', '#'};
            unsigned int count = sizeof buf;
            const char* at = vek_strat(t.get(), i, buf, &count);
            ASSERT_EQ(at, t.get() + std::min<std::size_t>(total, text.size())) << text << " @" << i;
            EXPECT_EQ(std::string(buf, count), std::string(at, count));
            EXPECT_EQ(buf[count], '#');  // no terminator written
            total += count;
        }
        EXPECT_EQ(total, text.size());
        EXPECT_TRUE(vek_strnicmp(t.get(), t.get(), 0));
    }
    char buf[3] = {'#', '#', '#'};
    unsigned int count = 1;
    EXPECT_EQ(vek_strat(euro, 0, buf, &count), euro);
    EXPECT_EQ(count, 3u);  // the character's size, though one byte was copied
    EXPECT_EQ(buf[1], '#');
    EXPECT_EQ(vek_strat(nullptr, 0, buf, &count), nullptr);
    EXPECT_EQ(vek_strlen(nullptr) + vek_charlen(nullptr), 0u);
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
    EXPECT_FALSE(vek_strnicmp(nullptr, "a", 0));
    EXPECT_EQ(vek_strnicmp2("a", nullptr, 1), 0);
}

TEST(Utf8Text, DecodesCodePoints)
{
    // Text, a code point read, the code point, the bytes it took.
    const std::tuple<std::string, bool, unsigned int, unsigned int> rows[] = {
        {"A", true, 0x41, 1},    {euro, true, 0x20AC, 3},         {"\xF0\x9F\x98\x80", true, 0x1F600, 4},
        {"", false, 0, 0},       {"\xE2\x82", false, 0, 0},       {"\x80", true, 0, 1},
        {"\xBF", true, 0x3F, 1}, {"\xF8\xFF\x41", true, 0x41, 3}, {"\xE2\x41", true, 0x41, 2},
        {"\xC0\x80", true, 0, 2}};
    for (const auto& [text, ok, expected_code, advance] : rows) {
        auto t = exact(text);
        unsigned int code = 99;
        const char* next = nullptr;
        EXPECT_EQ(vek_get_unicode_char(t.get(), &code, &next), ok) << text;
        EXPECT_EQ(code, expected_code) << text;
        EXPECT_EQ(next, t.get() + advance) << text;
    }
    EXPECT_TRUE(vek_get_unicode_char("x", nullptr, nullptr));
    EXPECT_FALSE(vek_get_unicode_char(nullptr, nullptr, nullptr));
}

TEST(Utf8Text, TrimsSpacesTabsAndLineFeeds)
{
    const std::pair<const char*, const char*> rows[] = {
        {"\tabc\r\n", "abc\r"}, {" \n\t \n", ""}, {"", ""},
        {" a \t b ", "a \t b"}, {"\r x", "\r x"}, {"\n\x80\xFF\n", "\x80\xFF"}};
    for (const auto& [text, trimmed] : rows) {
        char* out = vek_trim(text);
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out, trimmed);
        std::free(out);
    }
    EXPECT_EQ(vek_trim(nullptr), nullptr);
}
