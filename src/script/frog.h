// FROG (Georgoudis, Leroux and Chaves): a 128-bit block cipher with keys of
// 5 to 125 bytes, 8 rounds, each round a 16-byte XOR vector, a 256-byte
// substitution and a 16-byte "bomb" permutation derived from the key.
//
// Blocks and keys are byte arrays with byte 0 first (the published test
// files print them reversed).
//
// Thread safety: a built internal_key is read-only; every function is safe
// for concurrent use.
#ifndef VEK_SCRIPT_FROG_H
#define VEK_SCRIPT_FROG_H

#include <cstdint>

namespace vek {
namespace frog {

const unsigned int k_block_size = 16;
const unsigned int k_min_key_size = 5;
const unsigned int k_max_key_size = 125;
const int k_rounds = 8;

struct round_key {
    std::uint8_t xor_bu[16];
    std::uint8_t subst[256];  // the inverse substitution in a decryption key
    std::uint8_t bomb[16];
};

// 2304 bytes; the key schedule fills it as raw bytes before shaping it.
struct internal_key {
    round_key rounds[k_rounds];
};

// Builds the internal key of `key` for encryption or, with `decrypting`,
// for decryption. False for a key size outside 5 to 125 bytes.
bool make_key(const void* key, unsigned int key_size, bool decrypting, internal_key* out);

// REQUIRES: `key` built for encryption.
void encrypt_block(const internal_key& key, std::uint8_t block[k_block_size]);
// REQUIRES: `key` built for decryption.
void decrypt_block(const internal_key& key, std::uint8_t block[k_block_size]);

}  // namespace frog
}  // namespace vek

#endif
