#include "util/lng_reader.h"

#include <cstdio>
#include <cstring>
#include <memory>
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

// The position of the next `keyword` at or after `pos` (the keyword ends in
// its opening quote, so the search hops from quote to quote), or npos.
std::size_t find_keyword(std::string_view text, std::string_view keyword, std::size_t pos)
{
    const std::size_t lead = keyword.size() - 1;
    for (pos += lead;; ++pos) {
        pos = text.find('"', pos);
        if (pos == std::string_view::npos) return pos;
        if (text.compare(pos - lead, lead, keyword.data(), lead) == 0) return pos - lead;
    }
}

// Finds `keyword` at or after `pos` and the string it opens. On success
// sets `body` to the raw string and `pos` just past its closing quote.
bool next_string(std::string_view text, std::string_view keyword, std::size_t& pos, std::string_view& body)
{
    std::size_t start = find_keyword(text, keyword, pos);
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

// Appends the decoding of `size` bytes at `text` (see unescape).
void append_unescaped(const char* text, std::size_t size, std::string& out)
{
    const char* end = text + size;
    for (const char* p = text; p < end;) {
        const char* slash = static_cast<const char*>(std::memchr(p, '\\', static_cast<std::size_t>(end - p)));
        if (slash == nullptr) slash = end;
        out.append(p, slash);
        if (slash == end) return;
        p = slash + 1;
        // A known escape is decoded; any other backslash is dropped and the
        // next byte goes round again.
        if (p < end && escaped(*p) != '\0') out.push_back(escaped(*p++));
    }
}

// The raw string itself when it holds no escape, else its decoding in
// `scratch`.
std::string_view decoded(std::string_view raw, std::string& scratch)
{
    if (raw.find('\\') == std::string_view::npos) return raw;
    scratch.clear();
    append_unescaped(raw.data(), raw.size(), scratch);
    return scratch;
}

}  // namespace

std::string unescape(const char* text, std::size_t size)
{
    std::string out;
    out.reserve(size);
    append_unescaped(text, size, out);
    return out;
}

void parse(const char* data, std::size_t size, const pair_sink& on_pair)
{
    std::string_view text(data, size);
    std::size_t pos = 0;
    std::string_view id;
    std::string_view str;
    std::string id_scratch;
    std::string str_scratch;
    while (next_string(text, k_msgid, pos, id) && next_string(text, k_msgstr, pos, str)) {
        std::string_view key = decoded(id, id_scratch);
        std::string_view value = decoded(str, str_scratch);
        if (!key.empty() && !value.empty()) on_pair(key, value);
    }
}

bool read_file(const char* path, const pair_sink& on_pair)
{
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    // The size is a first guess only: the file may grow while it is read.
    long hint = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
    std::rewind(f);
    std::size_t capacity = hint > 0 ? static_cast<std::size_t>(hint) + 1 : 4096;
    std::unique_ptr<char[]> data(new char[capacity]);
    std::size_t length = 0;
    for (std::size_t n; (n = std::fread(data.get() + length, 1, capacity - length, f)) > 0;) {
        length += n;
        if (length < capacity) continue;
        std::unique_ptr<char[]> bigger(new char[capacity * 2]);
        std::memcpy(bigger.get(), data.get(), length);
        data = std::move(bigger);
        capacity *= 2;
    }
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    if (ok) parse(data.get(), length, on_pair);
    return ok;
}

}  // namespace lng
}  // namespace vek
