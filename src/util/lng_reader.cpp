#include "util/lng_reader.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace vek {
namespace lng {

namespace {

const std::string_view k_msgid = "msgid \"";
const std::string_view k_msgstr = "msgstr \"";

// The position of the quote that closes the string opening before `from`:
// the first '"' whose previous byte is not a backslash. npos when none.
std::size_t closing_quote(std::string_view text, std::size_t from)
{
    for (std::size_t pos = from;; ++pos) {
        pos = text.find('"', pos);
        if (pos == std::string_view::npos || text[pos - 1] != '\\') return pos;
    }
}

// Finds `keyword` (which ends in the opening quote) at or after `pos` and
// the string it opens. On success sets `body` to the raw string and `pos`
// just past its closing quote.
bool next_string(std::string_view text, std::string_view keyword, std::size_t& pos, std::string_view& body)
{
    std::size_t start = text.find(keyword, pos);
    if (start == std::string_view::npos) return false;
    start += keyword.size();
    std::size_t end = closing_quote(text, start);
    if (end == std::string_view::npos) return false;
    body = text.substr(start, end - start);
    pos = end + 1;
    return true;
}

char escaped(char c)
{
    switch (c) {
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case '"':
            return '"';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'v':
            return '\v';
        case '?':
            return '?';
        default:
            return '\0';
    }
}

}  // namespace

std::string unescape(const char* text, std::size_t size)
{
    std::string out;
    if (std::memchr(text, '\\', size) == nullptr) return std::string(text, size);
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
        } else if (i + 1 < size && escaped(text[i + 1]) != '\0') {
            out.push_back(escaped(text[++i]));
        }
        // Any other backslash is dropped; the next byte goes round again.
    }
    return out;
}

void parse(const char* data, std::size_t size, message_pairs& out)
{
    std::string_view text(data, size);
    std::size_t pos = 0;
    std::string_view id;
    std::string_view str;
    while (next_string(text, k_msgid, pos, id) && next_string(text, k_msgstr, pos, str)) {
        if (id.empty() || str.empty()) continue;
        std::string key = unescape(id.data(), id.size());
        std::string value = unescape(str.data(), str.size());
        if (!key.empty() && !value.empty()) out.emplace_back(std::move(key), std::move(value));
    }
}

bool read_file(const char* path, message_pairs& out)
{
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::string data;
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, n);
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    if (ok) parse(data.data(), data.size(), out);
    return ok;
}

}  // namespace lng
}  // namespace vek
