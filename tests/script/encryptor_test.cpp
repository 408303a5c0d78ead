// The encryption service: published vectors of both ciphers, the exact
// ciphertext layout, TEA's key window, bad input and strings.
#include <cstdint>
#include <numeric>
#include <optional>

#include "script/script_support.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes from_hex(const std::string& hex)
{
    bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::stoul(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Bytes first, first + 1, ... (count of them).
bytes counting(unsigned char first, std::size_t count)
{
    bytes out(count);
    std::iota(out.begin(), out.end(), first);
    return out;
}

// 32-bit words as little-endian bytes, the order the TEA method reads.
bytes le_words(std::initializer_list<std::uint32_t> words)
{
    bytes out;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(w >> (8 * i)));
    return out;
}

bytes slice(const bytes& b, std::size_t from, std::size_t n)
{
    return bytes(b.begin() + from, b.begin() + from + n);
}

class EncryptorTest : public vek_test::script_test {
protected:
    // The result's bytes, or nothing when the call fails. The caller must
    // get the only reference.
    std::optional<bytes> run(const bytes& data, const bytes& key, unsigned char method, bool encrypting = true)
    {
        vek::i_binary* bin = encrypting ? enc->encrypt(data.data(), data.size(), key.data(), key.size(), method)
                                        : enc->decrypt(data.data(), data.size(), key.data(), key.size(), method);
        if (bin == nullptr) return std::nullopt;
        EXPECT_EQ(vek_test::count_of(bin), 1);
        auto* p = static_cast<const unsigned char*>(bin->get_data());
        bytes out(p, p + bin->get_data_size());
        bin->release();
        return out;
    }
    bytes encrypt(const bytes& data, const bytes& key, unsigned char m) { return run(data, key, m).value_or(bytes()); }
};

// The length prefix and the layout of every size are pinned by
// EveryMethodRoundTripsWithExactLayout; the vectors pin the blocks.
TEST_F(EncryptorTest, TeaReproducesPublishedVectorsAndLaysEachKeyPieceOverThePreviousOne)
{
    // Key words, plaintext (y, z), ciphertext (y, z): Bouncy Castle's and
    // rows of Lockstone's chain.
    const std::initializer_list<std::uint32_t> rows[][3] = {
        {{0, 0, 0, 0}, {0, 0}, {0x41EA3A0A, 0x94BAA940}},
        {{0, 0, 0, 0}, {0x01020304, 0x05060708}, {0x6A2F9CF3, 0xFCCF3C55}},
        {{0x01234567, 0x12345678, 0x23456789, 0x3456789A}, {0, 0}, {0x34E943B0, 0x900F5DCB}},
        {{0x01234567, 0x12345678, 0x23456789, 0x3456789A}, {0x01020304, 0x05060708}, {0x773DC179, 0x878A81C0}},
        {{0x4E8E7829, 0xC88BA95E, 0xB84E28AF, 0xA0A47295}, {0x8FADF3B3, 0x41EA3A0A}, {0xED650698, 0xCF9F2B79}},
        {{0x5C60BFF2, 0x7072D01C, 0x4513C5EB, 0x8F3A38AB}, {0x80D9C4AD, 0xCF899635}, {0x2BB0F1B3, 0xC023ED11}},
    };
    for (const auto& r : rows) {
        bytes key = le_words(r[0]), out = encrypt(le_words(r[1]), key, '2');
        ASSERT_EQ(out.size(), 20u);
        EXPECT_EQ(slice(out, 4, 8), le_words(r[2]));
        // The padding block is the encryption of zeros under the same key.
        EXPECT_EQ(slice(out, 12, 8), slice(encrypt(bytes(8, 0), key, '2'), 4, 8));
    }

    // A short key is padded with zeros. 17 bytes: block 0 uses key[0..15],
    // block 1 key[16] over key[1..15], block 2 key[0..15] again.
    const bytes plain = counting(1, 16), k17 = counting(0x40, 17);
    EXPECT_EQ(encrypt(plain, {9, 8, 7, 6}, '2'), encrypt(plain, {9, 8, 7, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, '2'));
    bytes first = slice(k17, 0, 16), second = first;
    second[0] = k17[16];
    bytes out = encrypt(plain, k17, '2'), want = encrypt(plain, first, '2'), b = encrypt(plain, second, '2');
    EXPECT_NE(slice(b, 12, 8), slice(want, 12, 8));
    std::copy(b.begin() + 12, b.begin() + 20, want.begin() + 12);
    EXPECT_EQ(out, want);
}

TEST_F(EncryptorTest, FrogReproducesPublishedAndReferenceVectors)
{
    // Key, plaintext, ciphertext, byte 0 first: NIST known answers, the
    // reference code's short and long keys (which pin the key length into
    // the IV), and the zero block under zero keys.
    const std::string z16(32, '0'), z24(48, '0'), z32(64, '0');
    const std::string pt = "000102030405060708090a0b0c0d0e0f";
    const std::string rows[][3] = {
        {z16, "00000000000000000000000000000080", "82700ab3533100fcd02de6bd6988af43"},
        {z16, "01000000000000000000000000000000", "b46122f040782cb0cd24ce55e92554c7"},
        {z16.substr(2) + "80", z16, "1e1a2a532de59da7e230cc718ad2cb6c"},
        {z24.substr(2) + "80", z16, "d97ec798d02b23e20070c69753f4770e"},
        {"01" + z32.substr(2), z16, "2edc7b9c70f6e44182d6bc84a06d38c0"},
        {z32, "00000000000000000000000000000080", "a51dde88bc21224fba8c8673a4d3268b"},
        {z16, z16, "ce0f0611ec5ea12607d4bb435b58f0bf"},
        {z24, z16, "79964db8edaa09173c5518fc28429827"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", pt, "2bbb1026a5608ad9bd14ea5064982eb9"},
        {"0102030405", pt, "c5fe074e4c765b54e80545f6574f1c4d"},
        {"0102030405060708", pt, "5402faf96760cf786f6cd1b71911a55b"},
        {"0102030405060708090a0b0c0d0e0f", pt, "913626e885f0971c8ef083827dbe8fa7"},
        {"0102030405060708090a0b0c0d0e0f1011", pt, "fd92e551fc083f6ab21ca5a22c2ab2e3"},
        {"", pt, "54c998d0a1ca515d6aea89afdb0d5c22"},  // key: the bytes 0..124
    };
    for (const auto& r : rows) {
        bytes key = r[0].empty() ? counting(0, 125) : from_hex(r[0]), out = encrypt(from_hex(r[1]), key, '1');
        ASSERT_EQ(out.size(), 36u) << r[0];
        EXPECT_EQ(slice(out, 4, 16), from_hex(r[2])) << r[0];
        EXPECT_EQ(run(out, key, '1', false), from_hex(r[1])) << r[0];
    }
    EXPECT_EQ(slice(encrypt(from_hex(rows[0][1]), from_hex(z16), '1'), 20, 16), from_hex(rows[6][2]));
}

TEST_F(EncryptorTest, EveryMethodRoundTripsWithExactLayout)
{
    // Method, block size, bytes added.
    const std::size_t methods[][3] = {{'0', 0, 0}, {'1', 16, 20}, {'2', 8, 12}};
    for (const auto& m : methods) {
        auto code = static_cast<unsigned char>(m[0]);
        for (std::size_t key_size : {1, 4, 5, 16, 17, 125, 126}) {
            bytes key = counting(static_cast<unsigned char>(key_size), key_size);
            bool key_ok = code != '1' || (key_size >= 5 && key_size <= 125);
            for (std::size_t n = 0; n <= 100; ++n) {
                SCOPED_TRACE(testing::Message() << code << " key " << key_size << " n " << n);
                bytes plain = counting(static_cast<unsigned char>(n * 7), n);
                std::optional<bytes> out = run(plain, key, code);
                ASSERT_EQ(out.has_value(), n != 0 && key_ok);
                if (!out) continue;
                ASSERT_EQ(out->size(), n + m[2]);
                if (m[1] != 0) {
                    EXPECT_EQ(slice(*out, 0, 4), (bytes{0, 0, 0, static_cast<unsigned char>(n)}));
                    std::size_t end = 4 + (n / m[1] + 1) * m[1];
                    EXPECT_EQ(slice(*out, end, out->size() - end), bytes(out->size() - end, 0));
                }
                EXPECT_EQ(run(*out, key, code, false), plain);
            }
        }
    }
    // The length prefix is big-endian.
    EXPECT_EQ(slice(encrypt(bytes(0x0123, 1), bytes(16, 1), '2'), 0, 4), (bytes{0, 0, 1, 0x23}));
}

TEST_F(EncryptorTest, TheServiceRefusesBadArgumentsAndCiphertexts)
{
    EXPECT_EQ(vek_cast_i_typed_object(enc)->get_id(), 77132);
    bytes key(16, 3);
    for (unsigned char m : {'0', '1', '2'}) {
        EXPECT_EQ(enc->encrypt(nullptr, 4, key.data(), 16, m), nullptr);
        EXPECT_EQ(enc->encrypt("abcd", 4, nullptr, 16, m), nullptr);
        EXPECT_EQ(enc->encrypt("abcd", 0, key.data(), 16, m), nullptr);
        EXPECT_EQ(enc->decrypt("abcd", 4, key.data(), 0, m), nullptr);
    }
    for (int m : {0, 3, 51, 120, 255}) EXPECT_FALSE(run(key, key, static_cast<unsigned char>(m)));

    // Method, ciphertext size, length field, result: at least one block plus
    // five bytes, and a length no larger than the bytes after it.
    const std::size_t rows[][4] = {{'2', 12, 0, 0}, {'2', 13, 0, 1},  {'2', 13, 9, 1},  {'2', 13, 10, 0},
                                   {'1', 20, 0, 0}, {'1', 21, 17, 1}, {'1', 21, 18, 0}, {'1', 40, 36, 1}};
    for (const auto& r : rows) {
        bytes cipher(r[1], 0);
        cipher[3] = static_cast<unsigned char>(r[2]);
        std::optional<bytes> plain = run(cipher, key, static_cast<unsigned char>(r[0]), false);
        EXPECT_EQ(plain.has_value(), r[3] == 1) << r[0] << " " << r[1] << " " << r[2];
        EXPECT_EQ(plain.value_or(bytes(r[2])).size(), r[2]);
    }
}

TEST_F(EncryptorTest, StringsRoundTripAndWrongKeysFailUnlessGarbageEndsInZero)
{
    for (unsigned char m : {'0', '1', '2'}) {
        for (const char* text : {"", "hello, world", "a longer text that spans several cipher blocks"}) {
            const char* cipher = enc->encrypt_string(text, "secret", m);
            ASSERT_NE(cipher, nullptr);
            const char* back = enc->decrypt_string(cipher, "secret", m);
            EXPECT_STREQ(back, text);
            // The encryption of the text and its terminator under the key and
            // its terminator, in Base64.
            bytes data = encrypt(bytes(text, text + std::strlen(text) + 1), {'s', 'e', 'c', 'r', 'e', 't', 0}, m);
            char* b64 = vek_base64_encode(data.data(), static_cast<unsigned int>(data.size()));
            EXPECT_STREQ(cipher, b64);
            bytes garbage = run(data, {'o', 't', 'h', 'e', 'r', 0}, m, false).value();
            const char* wrong = enc->decrypt_string(cipher, "other", m);
            EXPECT_EQ(wrong != nullptr, garbage.back() == 0);
            for (const char* heap : {cipher, back, wrong, static_cast<const char*>(b64)})
                std::free(const_cast<char*>(heap));
        }
    }
    EXPECT_EQ(enc->encrypt_string("x", "abc", '1'), nullptr);  // a 4-byte FROG key
    EXPECT_EQ(enc->encrypt_string(nullptr, "key", '2'), nullptr);
    EXPECT_EQ(enc->decrypt_string("AAAA", nullptr, '2'), nullptr);
    EXPECT_EQ(enc->decrypt_string("!!", "key", '2'), nullptr);    // decodes to nothing
    EXPECT_EQ(enc->decrypt_string("YWJj", "key", '0'), nullptr);  // "abc": no terminator
}

}  // namespace
