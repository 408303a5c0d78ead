// Parses arbitrary bytes as a .lng catalogue from a heap block of exactly
// their size, so a read past the end is caught, and checks that every pair
// is non-empty and no longer than its raw text. Any crash, leak, sanitizer
// report or trap is a finding.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "util/lng_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<char[]> copy(new char[size]);
    if (size != 0) std::memcpy(copy.get(), data, size);
    std::size_t total = 0;
    vek::lng::parse(copy.get(), size, [&](std::string_view id, std::string_view str) {
        if (id.empty() || str.empty()) __builtin_trap();
        total += id.size() + str.size();
    });
    if (total > size) __builtin_trap();
    if (vek::lng::unescape(copy.get(), size).size() > size) __builtin_trap();
    return 0;
}
