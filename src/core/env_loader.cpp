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
void parse_line(const char* line, std::size_t length, std::string& buf,
                const std::function<void(const env_assignment&)>& apply)
{
    const char* eq = static_cast<const char*>(std::memchr(line, '=', length));
    if (eq == nullptr) return;
    std::size_t name_end = static_cast<std::size_t>(eq - line);
    buf.assign(line, length);
    buf[name_end] = '\0';
    // The flag is the name's last character as written, so "A^ =" names
    // "A^" and sets it unconditionally.
    bool only_if_unset = name_end > 0 && buf[name_end - 1] == '^';
    if (only_if_unset) buf[name_end - 1] = '\0';
    heap_text name(vek_trim(buf.c_str()), &std::free);
    heap_text value(vek_trim(buf.c_str() + name_end + 1), &std::free);
    if (name == nullptr || value == nullptr || *name == '\0') return;
    apply(env_assignment{line, length, name.get(), value.get(), only_if_unset});
}

}  // namespace

void parse_env_text(const char* text, const std::function<void(const env_assignment&)>& apply)
{
    if (text == nullptr) return;
    std::string buf;
    const char* p = text;
    for (;;) {
        p += std::strspn(p, "\r\n");
        if (*p == '\0') return;
        std::size_t length = std::strcspn(p, "\r\n");
        const char* hash = static_cast<const char*>(std::memchr(p, '#', length));
        try {
            parse_line(p, hash != nullptr ? static_cast<std::size_t>(hash - p) : length, buf, apply);
        } catch (const std::bad_alloc&) {
            // Only this line is lost.
        }
        p += length;
    }
}

}  // namespace vek
