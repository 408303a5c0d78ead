#include "core/env_loader.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "vek/util/text.h"

namespace vek {

namespace {

using heap_text = std::unique_ptr<char, decltype(&std::free)>;

// Hands over the assignment of one line, comment already removed. `buf`
// is scratch space kept across lines.
void parse_line(const char* line, std::size_t length, unsigned int number, std::string& buf,
                const std::function<void(const env_assignment&)>& apply,
                const std::function<void(unsigned int, const char*)>& skip)
{
    const char* eq = static_cast<const char*>(std::memchr(line, '=', length));
    if (eq == nullptr) return;
    if (std::memchr(line, '\0', length) != nullptr) {
        skip(number, "NUL byte");
        return;
    }
    std::size_t name_end = static_cast<std::size_t>(eq - line);
    buf.assign(line, length);
    buf[name_end] = '\0';
    // The flag is the name's last character as written, so "A^ =" names
    // "A^" and sets it unconditionally.
    bool only_if_unset = name_end > 0 && buf[name_end - 1] == '^';
    if (only_if_unset) buf[name_end - 1] = '\0';
    heap_text name(vek_trim(buf.c_str()), &std::free);
    heap_text value(vek_trim(buf.c_str() + name_end + 1), &std::free);
    if (name == nullptr || value == nullptr) return;
    if (*name == '\0') {
        skip(number, "empty variable name");
        return;
    }
    apply(env_assignment{line, length, number, name.get(), value.get(), only_if_unset});
}

}  // namespace

void parse_env_text(const char* text, std::size_t length, const std::function<void(const env_assignment&)>& apply,
                    const std::function<void(unsigned int, const char*)>& skip)
{
    if (text == nullptr) return;
    std::string buf;
    unsigned int number = 0;
    std::size_t i = 0;
    while (i < length) {
        std::size_t start = i;
        while (i < length && text[i] != '\n' && text[i] != '\r') ++i;
        std::size_t end = i;
        // CR LF ends one line; a lone CR or LF ends one too.
        if (i < length) i += text[i] == '\r' && i + 1 < length && text[i + 1] == '\n' ? 2 : 1;
        ++number;
        if (end == start) continue;
        const char* line = text + start;
        const char* hash = static_cast<const char*>(std::memchr(line, '#', end - start));
        try {
            parse_line(line, hash != nullptr ? static_cast<std::size_t>(hash - line) : end - start, number, buf, apply,
                       skip);
        } catch (const std::bad_alloc&) {
            // Only this line is lost.
        }
    }
}

}  // namespace vek
