#include "vek/util/checksum.h"

#include <zlib.h>

#include <array>

namespace {

// One byte's worth of the bitwise CRC-16 rule, for every byte value: the
// register's low byte XOR the data byte picks the entry.
constexpr std::array<unsigned short, 256> make_crc16_table()
{
    std::array<unsigned short, 256> table{};
    for (unsigned int i = 0; i < 256; ++i) {
        unsigned int crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0x8408 : crc >> 1;
        table[i] = static_cast<unsigned short>(crc);
    }
    return table;
}

constexpr std::array<unsigned short, 256> k_crc16_table = make_crc16_table();

}  // namespace

unsigned int vek_crc32(const void* data, unsigned int data_size, unsigned int start_val)
{
    if (data == nullptr || data_size == 0) return start_val;
    // zlib inverts the register on entry and on exit; undoing both gives
    // the plain register this function is defined by.
    return ~static_cast<unsigned int>(crc32(~start_val & 0xFFFFFFFFu, static_cast<const Bytef*>(data), data_size));
}

unsigned short vek_crc16(const void* data, unsigned int data_size, unsigned short start_val)
{
    if (data == nullptr || data_size == 0) return start_val;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    unsigned int crc = start_val;
    for (unsigned int i = 0; i < data_size; ++i) crc = (crc >> 8) ^ k_crc16_table[(crc ^ p[i]) & 0xFF];
    return static_cast<unsigned short>(crc);
}
