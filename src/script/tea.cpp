#include "script/tea.h"

namespace vek {
namespace tea {

namespace {

const std::uint32_t k_delta = 0x9E3779B9u;
const int k_cycles = 32;
// k_delta * k_cycles, modulo 2^32.
const std::uint32_t k_decrypt_sum = 0xC6EF3720u;

inline std::uint32_t mix(std::uint32_t w, std::uint32_t sum, std::uint32_t a, std::uint32_t b)
{
    return ((w << 4) + a) ^ (w + sum) ^ ((w >> 5) + b);
}

// The blocks and keys in lane order, held locally so that nothing aliases
// and each step is the same operation across all lanes.
struct lanes {
    std::uint32_t y[k_lanes], z[k_lanes], k0[k_lanes], k1[k_lanes], k2[k_lanes], k3[k_lanes];

    lanes(const std::uint32_t* y_in, const std::uint32_t* z_in, const std::uint32_t k[k_lanes][4])
    {
        for (int l = 0; l < k_lanes; ++l) {
            y[l] = y_in[l];
            z[l] = z_in[l];
            k0[l] = k[l][0];
            k1[l] = k[l][1];
            k2[l] = k[l][2];
            k3[l] = k[l][3];
        }
    }
    void store(std::uint32_t* y_out, std::uint32_t* z_out) const
    {
        for (int l = 0; l < k_lanes; ++l) {
            y_out[l] = y[l];
            z_out[l] = z[l];
        }
    }
};

}  // namespace

void encrypt_lanes(std::uint32_t y[k_lanes], std::uint32_t z[k_lanes], const std::uint32_t k[k_lanes][4])
{
    lanes v(y, z, k);
    std::uint32_t sum = 0;
    for (int c = 0; c < k_cycles; ++c) {
        sum += k_delta;
        for (int l = 0; l < k_lanes; ++l) {
            v.y[l] += mix(v.z[l], sum, v.k0[l], v.k1[l]);
            v.z[l] += mix(v.y[l], sum, v.k2[l], v.k3[l]);
        }
    }
    v.store(y, z);
}

void decrypt_lanes(std::uint32_t y[k_lanes], std::uint32_t z[k_lanes], const std::uint32_t k[k_lanes][4])
{
    lanes v(y, z, k);
    std::uint32_t sum = k_decrypt_sum;
    for (int c = 0; c < k_cycles; ++c) {
        for (int l = 0; l < k_lanes; ++l) {
            v.z[l] -= mix(v.y[l], sum, v.k2[l], v.k3[l]);
            v.y[l] -= mix(v.z[l], sum, v.k0[l], v.k1[l]);
        }
        sum -= k_delta;
    }
    v.store(y, z);
}

}  // namespace tea
}  // namespace vek
