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
    const char* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + size;
    unsigned int last_line = 0;
    vek::parse_env_text(
        begin, size,
        [&](const vek::env_assignment& a) {
            bool ok = a.line >= begin && a.line + a.line_length <= end && *a.name != '\0' && trimmed(a.name) &&
                      trimmed(a.value) && !has_any(a.name, "=\r\n#") && !has_any(a.value, "\r\n#") &&
                      std::memchr(a.line, '=', a.line_length) != nullptr &&
                      std::memchr(a.line, '\0', a.line_length) == nullptr &&
                      std::strlen(a.name) + std::strlen(a.value) < a.line_length && a.line_number > last_line;
            if (!ok) std::abort();
            last_line = a.line_number;
        },
        [&](unsigned int number, const char*) {
            if (number <= last_line) std::abort();
            last_line = number;
        });
    return 0;
}
