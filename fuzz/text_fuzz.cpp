// Feeds arbitrary texts to the text utilities and codecs that take
// untrusted input: Base64, hexadecimal, the %XX text encoding,
// transliteration, trimming, character walks, case-insensitive comparison,
// wildcard matching and the encryptor's decryption. The input is split at
// its first zero byte into two texts A and B; where a function takes two
// texts (pattern and value, ciphertext and key) it gets both. Round trips
// must give back their input. Any crash, leak, sanitizer report or abort is
// a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vek/vek_core.h>

#include "core_service.h"

namespace {

vek::i_encryptor* encryptor()
{
    static vek::i_encryptor* enc = vek_cast_i_encryptor(core_service("svc_encrypt"));
    return enc;
}

void check(bool ok)
{
    if (!ok) std::abort();
}

bool same_bytes(vek::i_binary* bin, const void* data, size_t size)
{
    return bin != nullptr && bin->get_data_size() == size && (size == 0 || std::memcmp(bin->get_data(), data, size) == 0);
}

void codecs(const uint8_t* data, size_t size, const std::string& a)
{
    const auto n = static_cast<unsigned int>(size);
    char* b64 = vek_base64_encode(data, n);
    if (b64 != nullptr) {
        vek::i_binary* back = vek_base64_decode(b64);
        check(same_bytes(back, data, size));
        back->release();
        std::free(b64);
    }
    // Whatever a text decodes to, encoding and decoding that gives it back.
    if (vek::i_binary* any = vek_base64_decode(a.c_str())) {
        char* again = vek_base64_encode(any->get_data(), any->get_data_size());
        vek::i_binary* back = again != nullptr ? vek_base64_decode(again) : nullptr;
        check(again == nullptr || same_bytes(back, any->get_data(), any->get_data_size()));
        if (back != nullptr) back->release();
        std::free(again);
        any->release();
    }
    char* hex = vek_bin2str(data, n);
    vek::i_binary* back = hex != nullptr ? vek_str2bin(hex) : nullptr;
    check(hex == nullptr || same_bytes(back, data, size));
    if (back != nullptr) back->release();
    std::free(hex);
    if (vek::i_binary* any = vek_str2bin(a.c_str())) any->release();

    char* enc = vek_text_encode(a.c_str());
    char* dec = enc != nullptr ? vek_text_decode(enc) : nullptr;
    check(enc == nullptr || (dec != nullptr && a == dec));
    std::free(dec);
    std::free(enc);
    std::free(vek_text_decode(a.c_str()));
}

void texts(const std::string& a, const std::string& b)
{
    std::free(vek_do_translit(a.c_str()));
    if (char* t = vek_trim(a.c_str())) {
        check(std::strlen(t) <= a.size() && a.find(t) != std::string::npos);
        std::free(t);
    }
    const unsigned int chars = vek_strlen(a.c_str());
    for (unsigned int i = 0; i <= chars && i < 64; ++i) {
        char buf[3];
        unsigned int count = sizeof buf;
        const char* at = vek_strat(a.c_str(), i, buf, &count);
        check(at >= a.c_str() && at <= a.c_str() + a.size() && count <= 3);
    }
    unsigned int code;
    const char* next = a.c_str();
    while (vek_get_unicode_char(next, &code, &next)) check(next <= a.c_str() + a.size());
    // Comparing ignoring case is consistent both ways round.
    const int ab = vek_strnicmp2(a.c_str(), b.c_str(), 5), ba = vek_strnicmp2(b.c_str(), a.c_str(), 5);
    check((ab < 0) == (ba > 0) && (ab == 0) == (ba == 0));
    check((ab == 0) == vek_strnicmp(a.c_str(), b.c_str(), 5));
    vek_wildcmp(a.c_str(), b.c_str());
    vek_wildicmp(a.c_str(), b.c_str());
    vek_wildcmp_list(a.c_str(), b.c_str());
    vek_wildicmp_list(a.c_str(), b.c_str());
    check(vek_wildcmp("*", b.c_str()) == 1);
    if (a.find_first_of("*?") == std::string::npos && (a.empty() || a[0] != '!')) {
        check(vek_wildcmp(a.c_str(), a.c_str()) == 1 && vek_wildicmp(a.c_str(), a.c_str()));
    }
}

void ciphers(const std::string& a, const std::string& b)
{
    vek::i_encryptor* e = encryptor();
    for (unsigned char method : {'0', '1', '2'}) {
        std::free(const_cast<char*>(e->decrypt_string(a.c_str(), b.c_str(), method)));
        vek::i_binary* plain = e->decrypt(a.data(), a.size(), b.data(), static_cast<unsigned int>(b.size()), method);
        if (plain != nullptr) plain->release();
    }
}

// The text from `begin` up to its first zero byte or `end`.
std::string text_until_zero(const char* begin, const char* end)
{
    const void* nul = std::memchr(begin, 0, static_cast<size_t>(end - begin));
    return std::string(begin, nul != nullptr ? static_cast<const char*>(nul) : end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + size;
    const std::string a = text_until_zero(begin, end);
    const std::string b = a.size() < size ? text_until_zero(begin + a.size() + 1, end) : std::string();
    codecs(data, size, a);
    texts(a, b);
    ciphers(a, b);
    return 0;
}
