#include "vek/util/charset.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/iconv.h"

namespace {

constexpr std::size_t max_charset_name = 1022;
constexpr unsigned int cp_locale = 0;
constexpr unsigned int cp_utf8 = 65001;

// Every name ever set stays in this set, so a pointer handed out by
// vek_get_local_charset stays readable while another thread changes the
// name; a name set again reuses its copy.
std::mutex g_names_lock;
std::set<std::string>& names()
{
    static auto* all = new std::set<std::string>;  // never destroyed
    return *all;
}
std::atomic<const char*> g_local_charset{"cp1251"};

// Code pages that iconv knows by a name other than "CP<n>".
struct named_code_page {
    unsigned int cp;
    const char* name;
};
const named_code_page k_named_code_pages[] = {
    {cp_utf8, "UTF-8"},     {65000, "UTF-7"},       {20127, "ASCII"},       {20866, "KOI8-R"}, {21866, "KOI8-U"},
    {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {50220, "ISO-2022-JP"}, {51932, "EUC-JP"}, {54936, "GB18030"},
};

// iconv's name for a code page.
bool charset_name(unsigned int cp, char* buf, std::size_t size)
{
    if (cp == cp_locale) return vek::platform::locale_charset(buf, size);
    for (const named_code_page& named : k_named_code_pages) {
        if (named.cp == cp) {
            std::snprintf(buf, size, "%s", named.name);
            return true;
        }
    }
    if (cp >= 28591 && cp <= 28599) {
        std::snprintf(buf, size, "ISO-8859-%u", cp - 28590);
    } else {
        std::snprintf(buf, size, "CP%u", cp);
    }
    return true;
}

std::size_t utf16_length(const char16_t* data)
{
    std::size_t n = 0;
    while (data[n] != 0) ++n;
    return n;
}

}  // namespace

bool vek_set_local_charset(const char* chs)
{
    if (chs == nullptr || std::strlen(chs) > max_charset_name) return false;
    try {
        std::lock_guard<std::mutex> hold(g_names_lock);
        g_local_charset.store(names().insert(chs).first->c_str());
        return true;
    } catch (...) {
        return false;
    }
}

const char* vek_get_local_charset()
{
    return g_local_charset.load();
}

char16_t* vek_iconv_to_utf16(const char* data)
{
    if (data == nullptr) return nullptr;
    std::size_t size = 0;
    return static_cast<char16_t*>(
        vek::platform::iconv_convert("UTF-8", vek::platform::utf16_charset(), data, std::strlen(data), &size));
}

char* vek_iconv_from_utf16(const char16_t* data)
{
    if (data == nullptr) return nullptr;
    std::size_t size = 0;
    return static_cast<char*>(vek::platform::iconv_from_utf16("UTF-8", data, utf16_length(data), &size));
}

char* vek_iconv_impl(unsigned int cp1, unsigned int cp2, const char* mb_str)
{
    if (mb_str == nullptr) return nullptr;
    char from[256];
    char to[256];
    if (!charset_name(cp1, from, sizeof from) || !charset_name(cp2, to, sizeof to)) return nullptr;
    std::size_t bytes = 0;
    void* wide =
        vek::platform::iconv_convert(from, vek::platform::utf16_charset(), mb_str, std::strlen(mb_str), &bytes);
    if (wide == nullptr) return nullptr;
    std::size_t size = 0;
    void* text = vek::platform::iconv_from_utf16(to, static_cast<char16_t*>(wide), bytes / sizeof(char16_t), &size);
    std::free(wide);
    return static_cast<char*>(text);
}

char* vek_iconv_to_int(const char* data)
{
    return vek_iconv_impl(cp_locale, cp_utf8, data);
}

char* vek_iconv_to_ext(const char* data)
{
    return vek_iconv_impl(cp_utf8, cp_locale, data);
}
