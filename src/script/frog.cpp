#include "script/frog.h"

#include <cstring>

namespace vek {
namespace frog {

static_assert(sizeof(round_key) == 288, "a round key is 288 packed bytes");
static_assert(sizeof(internal_key) == 2304, "an internal key is 8 round keys");

namespace {

// randomSeed: the first 251 five-digit groups of the RAND Corporation's
// "A Million Random Digits" (1955), each modulo 256.
const std::uint8_t k_seed[251] = {
    0x71, 0x15, 0xe8, 0x12, 0x71, 0x5c, 0x3f, 0x9d, 0x7c, 0xc1, 0xa6, 0xc5, 0x7e, 0x38, 0xe5, 0xe5, 0x9c, 0xa2,
    0x36, 0x11, 0xe6, 0x59, 0xbd, 0x57, 0xa9, 0x00, 0x51, 0xcc, 0x08, 0x46, 0xcb, 0xe1, 0xa0, 0x3b, 0xa7, 0xbd,
    0x64, 0x9d, 0x54, 0x0b, 0x07, 0x82, 0x1d, 0x33, 0x20, 0x2d, 0x87, 0xed, 0x8b, 0x21, 0x11, 0xdd, 0x18, 0x32,
    0x59, 0x4a, 0x15, 0xcd, 0xbf, 0xf2, 0x54, 0x35, 0x03, 0xe6, 0xe7, 0x76, 0x0f, 0x0f, 0x6b, 0x04, 0x15, 0x22,
    0x03, 0x9c, 0x39, 0x42, 0x5d, 0xff, 0xbf, 0x03, 0x55, 0x87, 0xcd, 0xc8, 0xb9, 0xcc, 0x34, 0x25, 0x23, 0x18,
    0x44, 0xb9, 0xc9, 0x0a, 0xe0, 0xea, 0x07, 0x78, 0xc9, 0x73, 0xd8, 0x67, 0x39, 0xff, 0x5d, 0x6e, 0x2a, 0xf9,
    0x44, 0x0e, 0x1d, 0x37, 0x80, 0x54, 0x25, 0x98, 0xdd, 0x89, 0x27, 0x0b, 0xfc, 0x32, 0x90, 0x23, 0xb2, 0xbe,
    0x2b, 0xa2, 0x67, 0xf9, 0x6d, 0x08, 0xeb, 0x21, 0x9e, 0x6f, 0xfc, 0xcd, 0xa9, 0x36, 0x0a, 0x14, 0xdd, 0xc9,
    0xb2, 0xe0, 0x59, 0xb8, 0xb6, 0x41, 0xc9, 0x0a, 0x3c, 0x06, 0xbf, 0xae, 0x4f, 0x62, 0x1a, 0xa0, 0xfc, 0x33,
    0x3f, 0x4f, 0x06, 0x66, 0x7b, 0xad, 0x31, 0x03, 0x6e, 0xe9, 0x5a, 0x9e, 0xe4, 0xd2, 0xd1, 0xed, 0x1e, 0x5f,
    0x1c, 0xb3, 0xcc, 0xdc, 0x48, 0xa3, 0x4d, 0xa6, 0xc0, 0x62, 0xa5, 0x19, 0x91, 0xa2, 0x5b, 0xd4, 0x29, 0xe6,
    0x6e, 0x06, 0x6b, 0xbb, 0x7f, 0x26, 0x52, 0x62, 0x1e, 0x43, 0xe1, 0x50, 0xd0, 0x86, 0x3c, 0xfa, 0x99, 0x57,
    0x94, 0x3c, 0x42, 0xa5, 0x48, 0x1d, 0xa5, 0x52, 0xd3, 0xcf, 0x00, 0xb1, 0xce, 0x0d, 0x06, 0x0e, 0x5c, 0xf8,
    0x3c, 0xc9, 0x84, 0x5f, 0x23, 0xd7, 0x76, 0xb1, 0x79, 0xb4, 0x1b, 0x53, 0x83, 0x1a, 0x27, 0x2e, 0x0c,
};

// Turns the first n-1 bytes of `a` into a permutation of 0..n-1: each byte
// advances a running index into the pool of values not yet taken.
void make_permutation(std::uint8_t* a, unsigned int n)
{
    std::uint8_t pool[256];
    for (unsigned int i = 0; i < n; ++i) pool[i] = static_cast<std::uint8_t>(i);
    unsigned int size = n;
    unsigned int t = 0;
    for (unsigned int i = 0; i + 1 < n; ++i) {
        t = (t + a[i]) % size;
        a[i] = pool[t];
        std::memmove(pool + t, pool + t + 1, size - t - 1);
        --size;
        if (t == size) t = 0;
    }
    a[n - 1] = pool[0];
}

// Splices every cycle of the bomb permutation into the one that starts at
// position 0, then makes sure no position points at its successor. The
// second step may repeat values; decryption only needs bomb[i] to be
// neither i nor i+1.
void validate_bomb(std::uint8_t* bomb)
{
    const unsigned int n = k_block_size;
    bool used[n] = {};
    unsigned int j = 0;
    for (unsigned int step = 0; step + 1 < n; ++step) {
        if (bomb[j] == 0) {
            // The walk would close early: link in the next unvisited
            // position and close its cycle back to 0 instead.
            unsigned int k = j;
            do {
                k = (k + 1) % n;
            } while (used[k]);
            bomb[j] = static_cast<std::uint8_t>(k);
            unsigned int l = k;
            while (bomb[l] != k) l = bomb[l];
            bomb[l] = 0;
        }
        used[j] = true;
        j = bomb[j];
    }
    for (unsigned int i = 0; i < n; ++i) {
        if (bomb[i] == (i + 1) % n) bomb[i] = static_cast<std::uint8_t>((i + 2) % n);
    }
}

// Shapes raw bytes into round keys in place.
void shape_key(internal_key* key, bool decrypting)
{
    for (round_key& r : key->rounds) {
        make_permutation(r.subst, 256);
        if (decrypting) {
            std::uint8_t inverse[256];
            for (unsigned int i = 0; i < 256; ++i) inverse[r.subst[i]] = static_cast<std::uint8_t>(i);
            std::memcpy(r.subst, inverse, sizeof(inverse));
        }
        make_permutation(r.bomb, k_block_size);
        validate_bomb(r.bomb);
    }
}

}  // namespace

bool make_key(const void* key, unsigned int key_size, bool decrypting, internal_key* out)
{
    if (key == nullptr || key_size < k_min_key_size || key_size > k_max_key_size) return false;
    const std::uint8_t* k = static_cast<const std::uint8_t*>(key);

    // A first key from the seed table and the user key, both repeated.
    internal_key simple;
    std::uint8_t* raw = reinterpret_cast<std::uint8_t*>(&simple);
    for (unsigned int i = 0; i < sizeof(simple); ++i) raw[i] = k_seed[i % 251] ^ k[i % key_size];
    shape_key(&simple, false);

    // Its CBC encryption of zeros, from an IV that folds in the key and its
    // length, is the raw material of the final key.
    std::uint8_t iv[k_block_size] = {};
    for (unsigned int i = 0; i < key_size && i < k_block_size; ++i) iv[i] ^= k[i];
    iv[0] ^= static_cast<std::uint8_t>(key_size);
    raw = reinterpret_cast<std::uint8_t*>(out);
    for (unsigned int pos = 0; pos < sizeof(*out); pos += k_block_size) {
        encrypt_block(simple, iv);
        std::memcpy(raw + pos, iv, k_block_size);
    }
    shape_key(out, decrypting);
    return true;
}

void encrypt_block(const internal_key& key, std::uint8_t block[k_block_size])
{
    std::uint8_t x[k_block_size];
    std::memcpy(x, block, sizeof(x));
    // `cur` carries x[i] from step to step: it is the byte just XORed into
    // the next position, which the next step substitutes. Keeping it out of
    // memory shortens the chain each byte waits on. The bomb never hits i or
    // i + 1, so its XOR may come before the one into i + 1.
    std::uint8_t cur = x[0];
    for (const round_key& r : key.rounds) {
        for (unsigned int i = 0; i < k_block_size; ++i) {
            cur = r.subst[cur ^ r.xor_bu[i]];
            x[i] = cur;
            x[r.bomb[i]] ^= cur;
            unsigned int next = (i + 1) % k_block_size;
            cur ^= x[next];
            x[next] = cur;
        }
    }
    std::memcpy(block, x, sizeof(x));
}

void decrypt_block(const internal_key& key, std::uint8_t block[k_block_size])
{
    std::uint8_t x[k_block_size];
    std::memcpy(x, block, sizeof(x));
    for (int round = k_rounds - 1; round >= 0; --round) {
        const round_key& r = key.rounds[round];
        for (int i = static_cast<int>(k_block_size) - 1; i >= 0; --i) {
            x[r.bomb[i]] ^= x[i];
            x[(i + 1) % k_block_size] ^= x[i];
            x[i] = r.subst[x[i]] ^ r.xor_bu[i];
        }
    }
    std::memcpy(block, x, sizeof(x));
}

}  // namespace frog
}  // namespace vek
