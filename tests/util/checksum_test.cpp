#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

using vek_test::count_of;

namespace {

std::vector<unsigned char> random_bytes(std::mt19937& rng, std::size_t n)
{
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

// The reflected CRC-32 register bit by bit, without inversions.
unsigned int crc32_reference(const unsigned char* p, std::size_t n, unsigned int crc)
{
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

// The CRC-16 rule bit by bit, as written: compare low bits, shift, XOR.
unsigned short crc16_reference(const unsigned char* p, std::size_t n, unsigned short crc)
{
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char b = p[i];
        for (int bit = 0; bit < 8; ++bit, b >>= 1) {
            crc = ((crc ^ b) & 1) != 0 ? static_cast<unsigned short>((crc >> 1) ^ 0x8408) : crc >> 1;
        }
    }
    return crc;
}

std::string as_text(vek::i_binary* bin)
{
    return std::string(static_cast<const char*>(bin->get_data()), bin->get_data_size());
}

}  // namespace

TEST(ChecksumTest, Crc32IsTheBareRegisterAndChains)
{
    const char* digits = "123456789";
    EXPECT_EQ(vek_crc32(digits, 9, 0xFFFFFFFF) ^ 0xFFFFFFFFu, 0xCBF43926u);
    EXPECT_NE(vek_crc32(digits, 9), 0xCBF43926u);
    EXPECT_EQ(vek_crc32(nullptr, 9, 1234), 1234u);
    EXPECT_EQ(vek_crc32(digits, 0, 1234), 1234u);

    std::mt19937 rng(7);
    for (std::size_t n : {1u, 7u, 8u, 9u, 63u, 1000u, 65537u}) {
        std::vector<unsigned char> data = random_bytes(rng, n);
        unsigned int start = rng();
        unsigned int whole = vek_crc32(data.data(), n, start);
        EXPECT_EQ(whole, crc32_reference(data.data(), n, start)) << n;
        unsigned int cut = static_cast<unsigned int>(rng() % n);
        EXPECT_EQ(vek_crc32(data.data() + cut, n - cut, vek_crc32(data.data(), cut, start)), whole) << n;
    }
}

TEST(ChecksumTest, Crc16FollowsTheBitwiseRule)
{
    const char* digits = "123456789";
    EXPECT_EQ(vek_crc16(digits, 9, 0xFFFF), 0x6F91);  // CRC-16/MCRF4XX
    EXPECT_EQ(vek_crc16(digits, 9, 0), 0x2189);       // CRC-16/KERMIT
    EXPECT_EQ(vek_crc16(digits, 0), 0x1973);
    EXPECT_EQ(vek_crc16(nullptr, 9), 0x1973);
    EXPECT_EQ(vek_crc16(nullptr, 9, 5), 5);

    std::mt19937 rng(16);
    for (std::size_t n : {1u, 2u, 17u, 4096u}) {
        std::vector<unsigned char> data = random_bytes(rng, n);
        unsigned short start = static_cast<unsigned short>(rng());
        EXPECT_EQ(vek_crc16(data.data(), n), crc16_reference(data.data(), n, 0x1973)) << n;
        EXPECT_EQ(vek_crc16(data.data(), n, start), crc16_reference(data.data(), n, start)) << n;
    }
}

TEST(ChecksumTest, Base64EncodesStandardTextAndRoundTripsEveryLength)
{
    const char* rfc[][2] = {{"f", "Zg=="},           {"fo", "Zm8="},        {"foo", "Zm9v"},
                            {"foob", "Zm9vYg=="},    {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
                            {"\xfb\xff\xbf", "+/+/"}};
    for (auto& row : rfc) {
        char* text = vek_base64_encode(row[0], static_cast<unsigned int>(std::strlen(row[0])));
        EXPECT_STREQ(text, row[1]);
        std::free(text);
    }
    EXPECT_EQ(vek_base64_encode("x", 0), nullptr);
    EXPECT_EQ(vek_base64_encode(nullptr, 3), nullptr);

    std::mt19937 rng(64);
    for (unsigned int n = 1; n <= 64; ++n) {
        std::vector<unsigned char> data = random_bytes(rng, n);
        char* text = vek_base64_encode(data.data(), n);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::strlen(text), (n + 2) / 3 * 4);
        vek::i_binary* back = vek_base64_decode(text);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(count_of(back), 1);
        ASSERT_EQ(back->get_data_size(), n);
        EXPECT_EQ(std::memcmp(back->get_data(), data.data(), n), 0) << text;
        back->release();
        std::free(text);
    }
}

TEST(ChecksumTest, Base64DecodeStopsAtTheFirstPadOrForeignCharacter)
{
    const char* rows[][2] = {{"YWI=", "ab"},
                             {"YW I=", "a"},
                             {"YWJj\nZGVm", "abc"},
                             {"YWJjZA", "abcd"},
                             {"YWJjZA==ZGVm", "abcd"},
                             {"YWJjZGV", "abcde"},
                             {"YWJjZ", "abc"},
                             {"Y", ""},
                             {"", ""},
                             {"-YWJj", ""},
                             {"=YWJj", ""}};
    for (auto& row : rows) {
        vek::i_binary* bin = vek_base64_decode(row[0]);
        ASSERT_NE(bin, nullptr) << row[0];
        EXPECT_EQ(as_text(bin), row[1]) << row[0];
        bin->release();
    }
    EXPECT_EQ(vek_base64_decode(nullptr), nullptr);
}

TEST(ChecksumTest, Md5ServiceDigestsTheRfc1321Suite)
{
    vek_test::quiet_trace();
    ASSERT_TRUE(vek_initialize());
    vek::i_object* svc = vek_core()->get_service("svc_md5_encoder");
    vek::i_md5_encoder* md5 = vek_cast_i_md5_encoder(svc);
    ASSERT_NE(md5, nullptr);
    EXPECT_EQ(count_of(svc), 2);  // the core's and ours
    EXPECT_STREQ(md5->get_name(), "MD5 encoder");
    EXPECT_EQ(vek_cast_i_named_object(svc), static_cast<vek::i_named_object*>(md5));
    EXPECT_EQ(vek_cast_i_md5_encoder(nullptr), nullptr);
    EXPECT_EQ(vek_cast_i_binary(svc), nullptr);

    const std::string digits = "1234567890";
    const std::pair<std::string, const char*> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {digits + digits + digits + digits + digits + digits + digits + digits, "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto& row : suite) {
        char* text = md5->encode_string(row.first.c_str());
        EXPECT_STREQ(text, row.second) << row.first;
        std::free(text);
    }
    // encode_data takes the bytes as given, zero bytes included.
    char* with_zero = md5->encode_data("abc\0", 4);
    char* plain = md5->encode_data("abc", 3);
    EXPECT_STREQ(plain, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_STRNE(with_zero, plain);
    std::free(with_zero);
    std::free(plain);
    EXPECT_EQ(md5->encode_string(nullptr), nullptr);
    EXPECT_EQ(md5->encode_data(nullptr, 3), nullptr);

    svc->release();
    vek_terminate();
}
