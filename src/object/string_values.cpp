#include "vek/object/string.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vek {

namespace {

const size_t first_format_size = 1024;

// A heap copy of `s`, or null when `s` is null.
char* dup_or_null(const char* s)
{
    return s != nullptr ? strdup(s) : nullptr;
}

// Formats into a block that grows until the whole text fits. The count
// handed to vsnprintf leaves one byte of the block unused. Null when the
// block cannot be allocated or the format cannot be expanded.
char* format_text(const char* fmt, va_list args)
{
    size_t size = first_format_size;
    char* text = static_cast<char*>(std::malloc(size));
    if (text == nullptr) return nullptr;
    text[0] = '\0';
    if (fmt == nullptr || *fmt == '\0') return text;
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int r = std::vsnprintf(text, size - 1, fmt, copy);
        va_end(copy);
        if (r >= 0 && static_cast<size_t>(r) < size - 1) return text;
        // vsnprintf reports the length it needs, so one step is enough;
        // a negative result is an encoding error that no size cures.
        if (r < 0) break;
        char* grown = static_cast<char*>(std::realloc(text, static_cast<size_t>(r) + 2));
        if (grown == nullptr) break;
        text = grown;
        size = static_cast<size_t>(r) + 2;
    }
    std::free(text);
    return nullptr;
}

}  // namespace

auto_string::auto_string() : m_text(nullptr) {}

auto_string::auto_string(char* p) : m_text(p) {}

auto_string::auto_string(const auto_string& other) : m_text(dup_or_null(other.m_text)) {}

auto_string& auto_string::operator=(const auto_string& other)
{
    if (&other == this) return *this;
    std::free(m_text);
    m_text = dup_or_null(other.m_text);
    return *this;
}

auto_string::~auto_string()
{
    std::free(m_text);
}

bool auto_string::operator==(const char* s) const
{
    return s != nullptr && m_text != nullptr && std::strcmp(m_text, s) == 0;
}

bool auto_string::operator==(const auto_string& other) const
{
    if (m_text == nullptr || other.m_text == nullptr) return m_text == other.m_text;
    return std::strcmp(m_text, other.m_text) == 0;
}

format_string::format_string(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    m_text = format_text(fmt, args);
    va_end(args);
}

format_string::format_string(const format_string& other) : m_text(dup_or_null(other.m_text)) {}

format_string& format_string::operator=(const char* s)
{
    // `s` may be this object's own text: copy before freeing.
    char* copy = dup_or_null(s);
    std::free(m_text);
    m_text = copy;
    return *this;
}

format_string& format_string::operator=(const format_string& other)
{
    return *this = other.m_text;
}

format_string::~format_string()
{
    std::free(m_text);
}

string_tokenizer::string_tokenizer(const char* text, char separator)
    : m_pos(text), m_separator(separator != '\0' ? separator : '\1')
{
}

int string_tokenizer::size(bool skip_empty)
{
    if (m_pos == nullptr) return -1;
    if (*m_pos == m_separator) {
        ++m_pos;
        while (skip_empty && *m_pos == m_separator) ++m_pos;
    }
    if (*m_pos == '\0') {
        m_pos = nullptr;
        return -1;
    }
    const char* end = std::strchr(m_pos, m_separator);
    return static_cast<int>(end != nullptr ? end - m_pos : std::strlen(m_pos));
}

bool string_tokenizer::next(char* dst, unsigned int dst_size, bool skip_empty)
{
    int n = size(skip_empty);
    if (n < 0 || static_cast<unsigned int>(n) >= dst_size) return false;
    std::memcpy(dst, m_pos, static_cast<size_t>(n));
    dst[n] = '\0';
    m_pos += n;
    return true;
}

}  // namespace vek
