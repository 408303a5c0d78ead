// Splits arbitrary bytes into environment-file assignments without touching
// the environment and checks what every assignment must look like. Any
// crash, leak, sanitizer report or abort is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/env_loader.h"

namespace {

bool trimmed(const char* s)
{
    std::size_t n = std::strlen(s);
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    return n == 0 || (!blank(s[0]) && !blank(s[n - 1]));
}

bool has_any(const char* s, const char* set)
{
    return std::strpbrk(s, set) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The file reader hands over text that ends at its first NUL.
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* begin = text.c_str();
    const char* end = begin + std::strlen(begin);
    vek::parse_env_text(begin, [&](const vek::env_assignment& a) {
        bool ok = a.line >= begin && a.line + a.line_length <= end && *a.name != '\0' && trimmed(a.name) &&
                  trimmed(a.value) && !has_any(a.name, "=\r\n#") && !has_any(a.value, "\r\n#") &&
                  std::memchr(a.line, '=', a.line_length) != nullptr &&
                  std::strlen(a.name) + std::strlen(a.value) < a.line_length;
        if (!ok) std::abort();
    });
    return 0;
}
