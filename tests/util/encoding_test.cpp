#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "test_support.h"

namespace {

// Takes over a heap text; "<null>" for null.
std::string take(char* text)
{
    if (text == nullptr) return "<null>";
    std::string s(text);
    std::free(text);
    return s;
}

// Takes over a binary (checking it carries exactly the caller's
// reference); "<null>" for null.
std::string take(vek::i_binary* bin)
{
    if (bin == nullptr) return "<null>";
    EXPECT_EQ(vek_test::count_of(bin), 1);
    std::string s(static_cast<const char*>(bin->get_data()), bin->get_data_size());
    EXPECT_EQ(bin->release(), 0);
    return s;
}

std::string all_bytes(int first)
{
    std::string s;
    for (int b = first; b < 256; ++b) s += static_cast<char>(b);
    return s;
}

TEST(EncodingTest, HexRoundTripsEveryByteAndReadsPairsLikeStrtoul)
{
    std::string bytes = all_bytes(0), hex;
    for (int b = 0; b < 256; ++b) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", b);
        hex += pair;
    }
    EXPECT_EQ(take(vek_bin2str(bytes.data(), 256)), hex);
    EXPECT_EQ(take(vek_str2bin(hex.c_str())), bytes);
    std::string lower = hex;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(take(vek_str2bin(lower.c_str())), bytes);

    EXPECT_EQ(take(vek_bin2str("\x0A\xFF", 2)), "0AFF");
    EXPECT_EQ(take(vek_bin2str("x", 0)), "");
    EXPECT_EQ(take(vek_bin2str(nullptr, 3)), "<null>");

    const struct {
        const char* text;
        std::string bytes;
    } pairs[] = {
        {"0aff", "\x0A\xFF"},
        {"", ""},
        {"abc", "<null>"},
        {nullptr, "<null>"},
        {"zz", std::string(1, '\0')},
        {"1z", "\x01"},
        {"z1", std::string(1, '\0')},
        {" 5", "\x05"},
        {"+f", "\x0F"},
        {"-1", "\xFF"},
        {"0x", std::string(1, '\0')},
    };
    for (const auto& p : pairs) EXPECT_EQ(take(vek_str2bin(p.text)), p.bytes) << (p.text ? p.text : "null");
}

TEST(EncodingTest, TextEncodingKeepsOnlyDigitsAndAToTilde)
{
    EXPECT_EQ(take(vek_text_encode("a b/c")), "a%20b%2Fc");
    EXPECT_EQ(take(vek_text_encode("09AZaz[\\]^_`{|}~")), "09AZaz[\\]^_`{|}~");
    EXPECT_EQ(take(vek_text_encode("!/:@\x7F\x80\xFF\t")), "%21%2F%3A%40%7F%80%FF%09");

    // Every byte but 0 round trips, and the encoding is plain ASCII.
    std::string bytes = all_bytes(1);
    std::string encoded = take(vek_text_encode(bytes.c_str()));
    EXPECT_EQ(encoded.size(), bytes.size() + 2 * (bytes.size() - 10 - 62));
    EXPECT_EQ(encoded.find_first_not_of("%0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"),
              std::string::npos);
    EXPECT_EQ(take(vek_text_decode(encoded.c_str())), bytes);

    const struct {
        const char* text;
        const char* decoded;
    } cases[] = {
        // In "%zz" the invalid pair reads as 0, which ends the text.
        {"a+b%2Fc", "a b/c"}, {"%2f%41", "/A"}, {"100%", "100"}, {"ab%4", "ab4"},     {"%", ""},
        {"x%zzy", "x"},       {"%+5", "\x05"},  {"", "<null>"},  {nullptr, "<null>"},
    };
    for (const auto& c : cases) EXPECT_EQ(take(vek_text_decode(c.text)), c.decoded) << (c.text ? c.text : "null");
    EXPECT_EQ(take(vek_text_encode("")), "<null>");
    EXPECT_EQ(take(vek_text_encode(nullptr)), "<null>");
}

TEST(EncodingTest, TranslitReplacesRussianLettersAndCopiesEverythingElse)
{
    const struct {
        const char* text;
        const char* latin;
    } cases[] = {
        {"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", "abvgdeejzzijklmnoprstufhcchshsch'y'ehjuja"},
        {"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "ABVGDEEJZZIJKLMNOPRSTUFHCCHSHSCH'Y'EHJUJA"},
        {"Щука", "SCHuka"},
        {"щука", "schuka"},
        {"abc", "abc"},
        {"Привет, мир! 42", "Privet, mir! 42"},
        {"a€б😀Я", "a€b😀JA"},               // 3- and 4-byte characters copied whole
        {"їЀ", "їЀ"},                      // Cyrillic outside the tables
        {"\x80\xBF\xFE", "\x80\xBF\xFE"},  // lone bytes
        {"\xE2\xD0\xB0", "\xE2\x61"},      // a cut sequence does not hide the letter after it
        {"x\xD1", "x\xD1"},                // lead byte at the end
        {"", "<null>"},
        {nullptr, "<null>"},
    };
    for (const auto& c : cases) EXPECT_EQ(take(vek_do_translit(c.text)), c.latin) << (c.text ? c.text : "null");

    // A lead byte right before the terminator of an exactly sized block: the
    // sanitizer build catches a read past it.
    char* lead = static_cast<char*>(std::malloc(2));
    lead[0] = '\xD0';
    lead[1] = '\0';
    EXPECT_EQ(take(vek_do_translit(lead)), "\xD0");
    std::free(lead);
}

}  // namespace
