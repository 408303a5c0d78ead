// TEA (Wheeler and Needham): a 64-bit block cipher with a 128-bit key, 32
// cycles. Works on 32-bit words; how bytes become words is the caller's
// choice (the encryptor reads them little-endian).
//
// Blocks go through in groups of k_lanes, each with its own key: one block
// is a long chain of dependent steps, so independent blocks side by side
// keep the processor (and its vector units) busy.
//
// Thread safety: pure functions, safe for concurrent use.
#ifndef VEK_SCRIPT_TEA_H
#define VEK_SCRIPT_TEA_H

#include <cstdint>

namespace vek {
namespace tea {

const int k_lanes = 8;

// Encrypts the blocks (y[l], z[l]) in place, each under its key k[l][0..3].
void encrypt_lanes(std::uint32_t y[k_lanes], std::uint32_t z[k_lanes], const std::uint32_t k[k_lanes][4]);
// Decrypts the blocks (y[l], z[l]) in place, each under its key k[l][0..3].
void decrypt_lanes(std::uint32_t y[k_lanes], std::uint32_t z[k_lanes], const std::uint32_t k[k_lanes][4]);

}  // namespace tea
}  // namespace vek

#endif
