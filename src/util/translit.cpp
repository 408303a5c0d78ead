#include "vek/util/encoding.h"

#include <cstdlib>
#include <cstring>

namespace {

struct letter {
    const char* cyrillic;  // UTF-8
    const char* latin;
};

constexpr letter k_letters[] = {
    {"а", "a"},  {"б", "b"},  {"в", "v"},   {"г", "g"},   {"д", "d"}, {"е", "e"}, {"ё", "e"},  {"ж", "jz"},
    {"з", "z"},  {"и", "i"},  {"й", "j"},   {"к", "k"},   {"л", "l"}, {"м", "m"}, {"н", "n"},  {"о", "o"},
    {"п", "p"},  {"р", "r"},  {"с", "s"},   {"т", "t"},   {"у", "u"}, {"ф", "f"}, {"х", "h"},  {"ц", "c"},
    {"ч", "ch"}, {"ш", "sh"}, {"щ", "sch"}, {"ъ", "'"},   {"ы", "y"}, {"ь", "'"}, {"э", "eh"}, {"ю", "ju"},
    {"я", "ja"}, {"А", "A"},  {"Б", "B"},   {"В", "V"},   {"Г", "G"}, {"Д", "D"}, {"Е", "E"},  {"Ё", "E"},
    {"Ж", "JZ"}, {"З", "Z"},  {"И", "I"},   {"Й", "J"},   {"К", "K"}, {"Л", "L"}, {"М", "M"},  {"Н", "N"},
    {"О", "O"},  {"П", "P"},  {"Р", "R"},   {"С", "S"},   {"Т", "T"}, {"У", "U"}, {"Ф", "F"},  {"Х", "H"},
    {"Ц", "C"},  {"Ч", "CH"}, {"Ш", "SH"},  {"Щ", "SCH"}, {"Ъ", "'"}, {"Ы", "Y"}, {"Ь", "'"},  {"Э", "EH"},
    {"Ю", "JU"}, {"Я", "JA"},
};

// Every Russian letter is encoded as 0xD0 or 0xD1 followed by a
// continuation byte, so a letter is found with one index into two rows of
// 64 cells. The longest Latin text is three bytes.
struct latin_text {
    char text[4];
    unsigned char length;
};

struct lookup_table {
    latin_text cell[2][64];
};

constexpr lookup_table build_table()
{
    lookup_table table{};
    for (const letter& l : k_letters) {
        unsigned lead = static_cast<unsigned char>(l.cyrillic[0]);
        unsigned trail = static_cast<unsigned char>(l.cyrillic[1]);
        latin_text& cell = table.cell[lead - 0xD0][trail - 0x80];
        while (l.latin[cell.length] != '\0') {
            cell.text[cell.length] = l.latin[cell.length];
            ++cell.length;
        }
    }
    return table;
}

constexpr lookup_table k_table = build_table();

static_assert(sizeof k_letters / sizeof k_letters[0] == 66, "33 lower-case and 33 upper-case letters");

// The Latin text for the letter at `p`, or null. Reads p[1] only when p[0]
// is a lead byte, so never past a terminator.
const latin_text* latin_for(const unsigned char* p)
{
    if ((p[0] != 0xD0 && p[0] != 0xD1) || (p[1] & 0xC0) != 0x80) return nullptr;
    const latin_text& cell = k_table.cell[p[0] - 0xD0][p[1] - 0x80];
    return cell.length != 0 ? &cell : nullptr;
}

}  // namespace

char* vek_do_translit(char const* text)
{
    if (text == nullptr || *text == '\0') return nullptr;
    std::size_t length = std::strlen(text);
    // Two bytes become at most three.
    char* out = static_cast<char*>(std::malloc(length + length / 2 + 1));
    if (out == nullptr) return nullptr;
    char* q = out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0';) {
        const latin_text* latin = latin_for(p);
        if (latin != nullptr) {
            std::memcpy(q, latin->text, latin->length);
            q += latin->length;
            p += 2;
        } else {
            *q++ = static_cast<char>(*p++);
        }
    }
    *q = '\0';
    return out;
}
