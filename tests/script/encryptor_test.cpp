// The encryption service: published vectors of both ciphers, the exact
// ciphertext layout, TEA's key window, bad input and strings.
#include <cstdint>
#include <numeric>
#include <optional>

#include "script/script_support.h"

namespace {

using bytes = std::vector<unsigned char>;

// Hex text, byte 0 first.
bytes hex(const std::string& text)
{
    bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(std::stoul(text.substr(i, 2), nullptr, 16));
    return out;
}

// 32-bit words in hex, each as little-endian bytes: the order the TEA
// method reads.
bytes le(const std::string& words)
{
    bytes out;
    std::istringstream in(words);
    for (std::uint32_t w; in >> std::hex >> w;)
        for (int i = 0; i < 32; i += 8) out.push_back(static_cast<unsigned char>(w >> i));
    return out;
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
    // Bytes first, first + 1, ... (n of them).
    static bytes counting(unsigned char first, size_t n)
    {
        bytes out(n);
        std::iota(out.begin(), out.end(), first);
        return out;
    }
    static bytes slice(const bytes& b, size_t at, size_t n) { return bytes(b.begin() + at, b.begin() + at + n); }
};

// Key, plaintext, ciphertext: TEA's from Bouncy Castle and rows of
// Lockstone's chain, as words; FROG's NIST known answers, the reference
// code's short and long keys (which pin the key length into the IV) and the
// zero block under zero keys, byte 0 first. The length prefix and the
// layout of every size are pinned by the next case.
TEST_F(EncryptorTest, BothCiphersReproducePublishedVectorsAndTeaLaysEachKeyPieceOverThePreviousOne)
{
    const std::string z16(32, '0'), z24(48, '0'), z32(64, '0'), pt = "000102030405060708090a0b0c0d0e0f";
    const struct {
        unsigned char method;
        bytes key, plain, cipher;
    } rows[] = {
        {'2', le("0 0 0 0"), le("0 0"), le("41EA3A0A 94BAA940")},
        {'2', le("0 0 0 0"), le("01020304 05060708"), le("6A2F9CF3 FCCF3C55")},
        {'2', le("01234567 12345678 23456789 3456789A"), le("0 0"), le("34E943B0 900F5DCB")},
        {'2', le("01234567 12345678 23456789 3456789A"), le("01020304 05060708"), le("773DC179 878A81C0")},
        {'2', le("4E8E7829 C88BA95E B84E28AF A0A47295"), le("8FADF3B3 41EA3A0A"), le("ED650698 CF9F2B79")},
        {'2', le("5C60BFF2 7072D01C 4513C5EB 8F3A38AB"), le("80D9C4AD CF899635"), le("2BB0F1B3 C023ED11")},
        {'1', hex(z16), hex("00000000000000000000000000000080"), hex("82700ab3533100fcd02de6bd6988af43")},
        {'1', hex(z16.substr(2) + "80"), hex(z16), hex("1e1a2a532de59da7e230cc718ad2cb6c")},
        {'1', hex(z24.substr(2) + "80"), hex(z16), hex("d97ec798d02b23e20070c69753f4770e")},
        {'1', hex("01" + z32.substr(2)), hex(z16), hex("2edc7b9c70f6e44182d6bc84a06d38c0")},
        {'1', hex(z16), hex(z16), hex("ce0f0611ec5ea12607d4bb435b58f0bf")},
        {'1', hex(z24), hex(z16), hex("79964db8edaa09173c5518fc28429827")},
        {'1', hex(pt + "101112131415161718191a1b1c1d1e1f"), hex(pt), hex("2bbb1026a5608ad9bd14ea5064982eb9")},
        {'1', hex("0102030405"), hex(pt), hex("c5fe074e4c765b54e80545f6574f1c4d")},
        {'1', hex("0102030405060708"), hex(pt), hex("5402faf96760cf786f6cd1b71911a55b")},
        {'1', hex("0102030405060708090a0b0c0d0e0f"), hex(pt), hex("913626e885f0971c8ef083827dbe8fa7")},
        {'1', hex("0102030405060708090a0b0c0d0e0f1011"), hex(pt), hex("fd92e551fc083f6ab21ca5a22c2ab2e3")},
        {'1', counting(0, 125), hex(pt), hex("54c998d0a1ca515d6aea89afdb0d5c22")},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        const size_t block = r.cipher.size();
        bytes out = encrypt(r.plain, r.key, r.method);
        ASSERT_EQ(out.size(), 4 + 2 * block);
        EXPECT_EQ(slice(out, 4, block), r.cipher);
        // The padding block is the encryption of zeros under the same key.
        EXPECT_EQ(slice(out, 4 + block, block), slice(encrypt(bytes(block, 0), r.key, r.method), 4, block));
        EXPECT_EQ(run(out, r.key, r.method, false), r.plain);
    }

    // TEA pads a short key with zeros. 17 bytes: block 0 uses key[0..15],
    // block 1 key[16] over key[1..15], block 2 key[0..15] again.
    const bytes plain = counting(1, 16), k17 = counting(0x40, 17);
    EXPECT_EQ(encrypt(plain, {9, 8, 7, 6}, '2'), encrypt(plain, {9, 8, 7, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, '2'));
    bytes first = slice(k17, 0, 16), second = first;
    second[0] = k17[16];
    bytes want = encrypt(plain, first, '2'), b = encrypt(plain, second, '2');
    std::copy(b.begin() + 12, b.begin() + 20, want.begin() + 12);
    EXPECT_EQ(encrypt(plain, k17, '2'), want);
}

TEST_F(EncryptorTest, EveryMethodRoundTripsWithExactLayoutAndRefusesBadArgumentsAndCiphertexts)
{
    // Method, block size, bytes added.
    const size_t methods[][3] = {{'0', 0, 0}, {'1', 16, 20}, {'2', 8, 12}};
    for (const auto& m : methods) {
        auto code = static_cast<unsigned char>(m[0]);
        for (size_t key_size : {1, 4, 5, 16, 17, 125, 126}) {
            bytes key = counting(static_cast<unsigned char>(key_size), key_size);
            bool key_ok = code != '1' || (key_size >= 5 && key_size <= 125);
            for (size_t n = 0; n <= 100; ++n) {
                SCOPED_TRACE(testing::Message() << code << " key " << key_size << " n " << n);
                bytes plain = counting(static_cast<unsigned char>(n * 7), n);
                std::optional<bytes> out = run(plain, key, code);
                ASSERT_EQ(out.has_value(), n != 0 && key_ok);
                if (!out) continue;
                ASSERT_EQ(out->size(), n + m[2]);
                if (m[1] != 0) {
                    EXPECT_EQ(slice(*out, 0, 4), (bytes{0, 0, 0, static_cast<unsigned char>(n)}));
                    size_t end = 4 + (n / m[1] + 1) * m[1];
                    EXPECT_EQ(slice(*out, end, out->size() - end), bytes(out->size() - end, 0));
                }
                EXPECT_EQ(run(*out, key, code, false), plain);
            }
        }
    }
    // The length prefix is big-endian.
    EXPECT_EQ(slice(encrypt(bytes(0x0123, 1), bytes(16, 1), '2'), 0, 4), (bytes{0, 0, 1, 0x23}));

    EXPECT_EQ(vek_cast_i_typed_object(enc)->get_id(), 77132);
    // One check serves every method; the copy, which would not fail
    // otherwise, shows it.
    bytes key(16, 3);
    EXPECT_EQ(enc->encrypt(nullptr, 4, key.data(), 16, '0'), nullptr);
    EXPECT_EQ(enc->encrypt("abcd", 4, nullptr, 16, '0'), nullptr);
    EXPECT_EQ(enc->encrypt("abcd", 0, key.data(), 16, '0'), nullptr);
    EXPECT_EQ(enc->decrypt("abcd", 4, key.data(), 0, '0'), nullptr);
    for (int m : {0, 47, 51, 255}) EXPECT_FALSE(run(key, key, static_cast<unsigned char>(m))) << m;

    // Method, ciphertext size, length field, result: at least one block plus
    // five bytes, and a length no larger than the bytes after it.
    const size_t rows[][4] = {{'2', 12, 0, 0}, {'2', 13, 0, 1},  {'2', 13, 9, 1},  {'2', 13, 10, 0},
                              {'1', 20, 0, 0}, {'1', 21, 17, 1}, {'1', 21, 18, 0}, {'1', 40, 36, 1}};
    for (const auto& r : rows) {
        bytes cipher(r[1], 0);
        cipher[3] = static_cast<unsigned char>(r[2]);
        std::optional<bytes> plain = run(cipher, key, static_cast<unsigned char>(r[0]), false);
        EXPECT_EQ(plain.has_value(), r[3] == 1) << r[0] << " " << r[1] << " " << r[2];
        EXPECT_EQ(plain.value_or(bytes(r[2])).size(), r[2]);
    }
}

// A string is the Base64 of the text and its terminator, encrypted under the
// key and its terminator; what does not decode to a terminated text is
// refused. A FROG key too short is refused as in the Tcl package's
// i_encryptor-2.1.
TEST_F(EncryptorTest, StringsAreTheBase64OfTheTerminatedTextUnderTheTerminatedKey)
{
    for (unsigned char m : {'0', '1', '2'}) {
        for (const char* text : {"", "a longer text that spans several cipher blocks"}) {
            auto* cipher = const_cast<char*>(enc->encrypt_string(text, "secret", m));
            auto* back = const_cast<char*>(enc->decrypt_string(cipher, "secret", m));
            bytes data = encrypt(bytes(text, text + std::strlen(text) + 1), {'s', 'e', 'c', 'r', 'e', 't', 0}, m);
            char* b64 = vek_base64_encode(data.data(), static_cast<unsigned int>(data.size()));
            EXPECT_STREQ(cipher, b64) << m << " " << text;
            EXPECT_STREQ(back, text) << m;
            for (char* heap : {cipher, back, b64}) std::free(heap);
        }
    }
    EXPECT_EQ(enc->encrypt_string(nullptr, "key", '2'), nullptr);
    EXPECT_EQ(enc->decrypt_string("!!", "key", '2'), nullptr);    // decodes to nothing
    EXPECT_EQ(enc->decrypt_string("YWJj", "key", '0'), nullptr);  // "abc": no terminator
}

}  // namespace
