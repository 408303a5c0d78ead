#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <vek/vek_core.h>

const char* const shchuka = "\xD0\xA9\xD1\x83\xD0\xBA\xD0\xB0";  // Щука
const char* const grin = "\xF0\x9F\x98\x8A";                     // U+1F60A

// Takes over a converted text and frees it with free(), as callers must.
static std::string take(char* text)
{
    std::unique_ptr<char, decltype(&std::free)> held(text, std::free);
    return text != nullptr ? text : "(null)";
}

// Bad input in the source character set gives null; so do an unknown code
// page and a lone surrogate. The UTF-7 row's closing '-' comes from the
// final reset; U+0080 takes 4 bytes in GB18030, so its output buffer has to
// grow; cp1251 has no form for e-acute or U+1F60A. Code page 0 is the
// charset of the locale the host set; starting the library (and Tcl with
// it) leaves that locale alone. A charset name handed out stays readable
// after the name changes. A descriptor or buffer shared between calls would
// mix up the results of threads converting at the same time.
TEST(CharsetTest, ConvertsBetweenCodePagesRefusesBadInputAndKeepsNamesAcrossThreads)
{
    // clang-format off
    const std::pair<std::string, std::u16string> rows[] = {
        {"", u""}, {shchuka, u"\u0429\u0443\u043A\u0430"}, {grin, u"\xD83D\xDE0A"}, {"a\xEF\xBB\xBFz", u"a\uFEFFz"},
        {std::string(1 << 20, 'q'), std::u16string(1 << 20, u'q')}};
    // clang-format on
    for (const auto& [utf8, utf16] : rows) {
        char16_t* wide = vek_iconv_to_utf16(utf8.c_str());
        EXPECT_EQ(wide != nullptr ? std::u16string(wide) : u"(null)", utf16);
        EXPECT_EQ(take(vek_iconv_from_utf16(wide)), utf8);
        std::free(wide);
    }
    EXPECT_EQ(vek_iconv_to_utf16("a\xE2\x82"), nullptr);
    for (const char* bad : {"\x80", "a\xE2\x82", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
        EXPECT_EQ(take(vek_iconv_impl(65001, 1251, bad)), "(null)") << bad;
    const char16_t lone[][3] = {{0xD800, 0}, {0xDC00, u'a', 0}, {u'a', 0xD83D, 0}};
    for (const char16_t* bad : lone) EXPECT_EQ(take(vek_iconv_from_utf16(bad)), "(null)");
    EXPECT_EQ(take(vek_iconv_impl(4000000000u, 65001, "a")), "(null)");
    EXPECT_TRUE(!vek_iconv_to_utf16(nullptr) && !vek_iconv_from_utf16(nullptr) && !vek_iconv_impl(65001, 0, nullptr));

    std::string u0080, gb18030;
    for (int i = 0; i < 2048; ++i) u0080 += "\xC2\x80", gb18030 += "\x81\x30\x81\x30";
    // clang-format off
    const std::tuple<unsigned int, std::string, std::string> pages[] = {
        {1251, shchuka, "\xD9\xF3\xEA\xE0"}, {20866, shchuka, "\xFD\xD5\xCB\xC1"}, {65000, "\xC3\xA9", "+AOk-"},
        {1251, std::string("\xC3\xA9 ") + grin, "? ?"}, {54936, u0080, gb18030}};
    // clang-format on
    for (const auto& [cp, utf8, bytes] : pages) {
        EXPECT_EQ(take(vek_iconv_impl(65001, cp, utf8.c_str())), bytes) << cp;
        bool exact = bytes.find('?') == std::string::npos;  // a '?' form has no way back
        EXPECT_EQ(exact ? take(vek_iconv_impl(cp, 65001, bytes.c_str())) : utf8, utf8) << cp;
    }

    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    setenv("LANG", "C.UTF-8", 1);
    ASSERT_TRUE(vek_initialize());
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    vek_terminate();
    EXPECT_EQ(take(vek_iconv_to_ext(shchuka)) + "|" + take(vek_iconv_to_int("caf\xE9")), "????|(null)");

    // The first name the process has, then names of up to 1022 bytes.
    EXPECT_STREQ(vek_get_local_charset(), "cp1251");
    ASSERT_TRUE(vek_set_local_charset("koi8-r"));
    const char* held = vek_get_local_charset();
    EXPECT_FALSE(vek_set_local_charset(std::string(1023, 'x').c_str()) || vek_set_local_charset(nullptr));
    EXPECT_STREQ(vek_get_local_charset(), "koi8-r");
    EXPECT_TRUE(vek_set_local_charset(std::string(1022, 'x').c_str()));

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            std::string ascii(t * 50 + 1, static_cast<char>('a' + t)), text = ascii + shchuka + grin;
            for (int i = 0; i < 300; ++i) {
                wrong += take(vek_iconv_impl(65001, 1251, text.c_str())) != ascii + "\xD9\xF3\xEA\xE0?";
                vek_set_local_charset(i % 2 != 0 ? "koi8-r" : "cp866");
                std::string name = vek_get_local_charset();
                wrong += name != "cp866" && name != "koi8-r";
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_STREQ(held, "koi8-r");
    vek_set_local_charset("cp1251");  // the process's first name, which this case checks
}
