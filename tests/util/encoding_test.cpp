#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <utility>

#include "test_support.h"

namespace {

// Takes over a heap text; "<null>" for null.
std::string take(char* text)
{
    return text != nullptr ? std::unique_ptr<char, decltype(&std::free)>(text, &std::free).get() : "<null>";
}

// Takes over a binary (checking it carries exactly the caller's
// reference); "<null>" for null.
std::string take(vek::i_binary* bin)
{
    if (bin == nullptr) return "<null>";
    std::string s(static_cast<const char*>(bin->get_data()), bin->get_data_size());
    EXPECT_EQ(bin->release(), 0);
    return s;
}

// Every byte value, 0 to 255.
const std::string all = [] {
    std::string s(256, '\0');
    std::iota(s.begin(), s.end(), '\0');
    return s;
}();

// Both CRCs are the bare register: no inversion on entry or exit, so the
// usual check values come from the inverting start and an inverted result.
TEST(ChecksumTest, CrcsAreTheBareRegister)
{
    const std::string digits = "123456789";
    // Data, start, register. The first is CRC-32's check value 0xCBF43926.
    const std::tuple<std::string, unsigned int, unsigned int> crc32_rows[] = {
        {digits, 0xFFFFFFFF, ~0xCBF43926u}, {digits, 0, 0x2DFD2D88}, {all, 0x12345678, 0x8906DCD5}};
    for (const auto& [data, start, crc] : crc32_rows) EXPECT_EQ(vek_crc32(data.data(), data.size(), start), crc);
    EXPECT_EQ(vek_crc32(nullptr, 9, 1234), 1234u);
    // CRC-16/MCRF4XX, CRC-16/KERMIT, every byte value.
    const std::tuple<std::string, unsigned short, unsigned short> crc16_rows[] = {
        {digits, 0xFFFF, 0x6F91}, {digits, 0, 0x2189}, {all, 0xBEEF, 0x1BDA}};
    for (const auto& [data, start, crc] : crc16_rows) EXPECT_EQ(vek_crc16(data.data(), data.size(), start), crc);
    // The default start is 0x1973; no data leaves the start as it is.
    EXPECT_EQ(vek_crc16(all.data(), 256), 0x5B94);
    EXPECT_EQ(vek_crc16(nullptr, 9), 0x1973);
}

TEST(ChecksumTest, Base64EncodesStandardTextAndRoundTripsEveryByte)
{
    // clang-format off
    const char* rfc[][2] = {{"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                            {"foobar", "Zm9vYmFy"}, {"\xfb\xff\xbf", "+/+/"}};
    // clang-format on
    for (auto& row : rfc) EXPECT_EQ(take(vek_base64_encode(row[0], std::strlen(row[0]))), row[1]);
    EXPECT_TRUE(vek_base64_encode("x", 0) == nullptr && vek_base64_encode(nullptr, 3) == nullptr);
    // The 256 bytes encode to every one of the 64 characters.
    EXPECT_EQ(take(vek_base64_decode(take(vek_base64_encode(all.data(), 256)).c_str())), all);
    // Decoding stops at the first pad or foreign character.
    // clang-format off
    const char* rows[][2] = {{"YWI=", "ab"}, {"YWJj\nZGVm", "abc"}, {"YWJjZA", "abcd"}, {"YWJjZA==ZGVm", "abcd"},
        {"YWJjZGV", "abcde"}, {"YWJjZ", "abc"}, {"Y", ""}, {"", ""}, {"=YWJj", ""}, {nullptr, "<null>"}};
    // clang-format on
    for (auto& row : rows) EXPECT_EQ(take(vek_base64_decode(row[0])), row[1]) << (row[0] ? row[0] : "null");
}

// A stop at any place in a long text, inside or after a group, keeps
// exactly the bytes the characters before it encode.
TEST(ChecksumTest, Base64DecodingStopsAtEveryPosition)
{
    std::string data;
    for (int i = 0; i < 299; ++i) data += all[(i * 97 + 13) & 255];
    const std::string text = take(vek_base64_encode(data.data(), data.size()));
    for (char stop : {'=', '\n', '-', '\x80', '\0'}) {
        for (std::size_t j = 0; j <= text.size(); ++j) {
            std::string cut = text;
            if (j < cut.size()) cut[j] = stop;
            const std::size_t kept = std::min(j, text.size() - 1);  // the final "=" stops as well
            EXPECT_EQ(take(vek_base64_decode(cut.c_str())),
                      data.substr(0, kept / 4 * 3 + (kept % 4 > 1 ? kept % 4 - 1 : 0)))
                << j << " " << int(stop);
        }
    }
}

TEST(ChecksumTest, Md5ServiceDigestsTheRfc1321Suite)
{
    vek_test::quiet_trace();
    ASSERT_TRUE(vek_initialize());
    // `md5` holds the reference get_service hands out.
    vek::i_md5_encoder* md5 = vek_cast_i_md5_encoder(vek_core()->get_service("svc_md5_encoder"));
    ASSERT_NE(md5, nullptr);
    EXPECT_EQ(vek_cast_i_binary(md5), nullptr);

    const std::string digits = "1234567890";
    // clang-format off
    const std::pair<std::string, const char*> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"}, {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"}, {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {digits + digits + digits + digits + digits + digits + digits + digits, "57edf4a22be3c955ac49da2e2107b67a"}};
    // clang-format on
    for (auto& row : suite) EXPECT_EQ(take(md5->encode_string(row.first.c_str())), row.second) << row.first;
    // encode_data takes the bytes as given, zero bytes included.
    EXPECT_EQ(take(md5->encode_data("abc\0", 4)), "147a664a2ca9410911e61986d3f0d52a");
    EXPECT_TRUE(md5->encode_string(nullptr) == nullptr && md5->encode_data(nullptr, 3) == nullptr);
    md5->release();
    vek_terminate();
}

TEST(EncodingTest, HexRoundTripsEveryByteAndReadsPairsLikeStrtoul)
{
    // Upper-case pairs, the high half first; every byte goes there and back.
    EXPECT_EQ(take(vek_bin2str("\x00\x09\x9F\xA0\xFF", 5)), "00099FA0FF");
    EXPECT_EQ(take(vek_str2bin(take(vek_bin2str(all.data(), 256)).c_str())), all);
    EXPECT_EQ(take(vek_bin2str("x", 0)), "");
    EXPECT_EQ(take(vek_bin2str(nullptr, 3)), "<null>");
    // clang-format off
    const std::pair<const char*, std::string> pairs[] = {{nullptr, "<null>"}, {"af", "\xAF"}, {"zz", {"\0", 1}},
        {"1z", "\x01"}, {"z1", {"\0", 1}}, {" 5", "\x05"}, {"+f", "\x0F"}, {"-1", "\xFF"}, {"0x", {"\0", 1}}};
    // clang-format on
    for (const auto& [text, want] : pairs) EXPECT_EQ(take(vek_str2bin(text)), want) << (text ? text : "null");
}

TEST(EncodingTest, TextEncodingKeepsOnlyDigitsAndAToTilde)
{
    EXPECT_EQ(take(vek_text_encode("09AZaz[\\]^_`{|}~")), "09AZaz[\\]^_`{|}~");
    EXPECT_EQ(take(vek_text_encode("!/:@\x7F\x80\xFF\t")), "%21%2F%3A%40%7F%80%FF%09");
    EXPECT_EQ(take(vek_text_encode("")) + take(vek_text_encode(nullptr)), "<null><null>");

    // Every byte but 0 round trips; all but the 72 kept ones are escaped.
    const std::string bytes = all.substr(1), encoded = take(vek_text_encode(bytes.c_str()));
    EXPECT_EQ(encoded.size(), bytes.size() + 2 * (bytes.size() - 10 - 62));
    EXPECT_EQ(take(vek_text_decode(encoded.c_str())), bytes);

    // In "%zz" the invalid pair reads as 0, which ends the text.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {{"%2f%41", "/A"}, {"100%", "100"}, {"%", ""}, {"x%zzy", "x"},
        {"%+5", "\x05"}, {"", "<null>"}, {nullptr, "<null>"}};
    // clang-format on
    for (const auto& [text, decoded] : cases) EXPECT_EQ(take(vek_text_decode(text)), decoded) << (text ? text : "null");
}

TEST(EncodingTest, TranslitReplacesRussianLettersAndCopiesEverythingElse)
{
    // After the alphabets: 3- and 4-byte characters copied whole, Cyrillic
    // outside the tables, lone bytes, a cut sequence that does not hide the
    // letter after it, a lead byte at the end.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", "abvgdeejzzijklmnoprstufhcchshsch'y'ehjuja"},
        {"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "ABVGDEEJZZIJKLMNOPRSTUFHCCHSHSCH'Y'EHJUJA"},
        {"a€б😀Я", "a€b😀JA"}, {"їЀ", "їЀ"}, {"\x80\xBF\xFE", "\x80\xBF\xFE"}, {"\xE2\xD0\xB0", "\xE2\x61"},
        {"x\xD1", "x\xD1"}, {"Привет, мир! 42", "Privet, mir! 42"}, {"", "<null>"}, {nullptr, "<null>"}};
    // clang-format on
    for (const auto& [text, latin] : cases) EXPECT_EQ(take(vek_do_translit(text)), latin) << (text ? text : "null");

    // A lead byte right before the terminator of an exactly sized block: the
    // sanitizer build catches a read past it.
    std::unique_ptr<char[]> lead(new char[2]{'\xD0', '\0'});
    EXPECT_EQ(take(vek_do_translit(lead.get())), "\xD0");
}

}  // namespace
