#include "xml/xml_encoding.h"

#include <cstring>
#include <new>

#include "platform/iconv.h"
#include "vek/core.h"

namespace vek {

namespace {

using platform::char_decoder;

// What Expat keeps for the parse: the decoder and the sequence lengths.
struct multi_byte_set {
    explicit multi_byte_set(const char* name) : decoder(name) {}
    char_decoder decoder;
    int map[256];
};

// Where trail bytes of the common double-byte sets begin; trying there first
// finds a whole character in a step or two.
const unsigned int first_trail_tried = 0xA1;

// The length of the sequences that `lead` begins (2 to 4), or -1 when no
// sequence starting with it decodes.
int sequence_length(char_decoder& decoder, unsigned char lead)
{
    char seq[4] = {static_cast<char>(lead)};
    for (int n = 2; n <= 4; ++n) {
        int prefix = -1;
        for (unsigned int i = 0; i < 256; ++i) {
            seq[n - 1] = static_cast<char>((first_trail_tried + i) & 0xFF);
            long c = decoder.decode(seq, static_cast<std::size_t>(n));
            if (c >= 0) return n;
            if (c == char_decoder::decode_incomplete && prefix < 0) prefix = static_cast<unsigned char>(seq[n - 1]);
        }
        if (prefix < 0) return -1;
        seq[n - 1] = static_cast<char>(prefix);
    }
    return -1;
}

// Whether every ASCII character that markup needs is the same single byte
// in the set, as Expat requires (it lets "$@\\^`{}~" differ). Checked first,
// so that a set such as UTF-32 is refused without probing every byte.
bool keeps_ascii(char_decoder& decoder)
{
    for (unsigned int b = 0; b < 0x7F; ++b) {
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') continue;
        if (std::strchr("$@\\^`{}~", static_cast<int>(b)) != nullptr) continue;
        char byte = static_cast<char>(b);
        if (decoder.decode(&byte, 1) != static_cast<long>(b)) return false;
    }
    return true;
}

// Fills Expat's byte map. True when some byte begins a longer sequence.
bool fill_map(char_decoder& decoder, int* map)
{
    bool multi = false;
    for (unsigned int b = 0; b < 256; ++b) {
        char byte = static_cast<char>(b);
        long c = decoder.decode(&byte, 1);
        if (c == char_decoder::decode_incomplete) {
            int n = sequence_length(decoder, static_cast<unsigned char>(b));
            map[b] = n > 0 ? -n : -1;
            multi = multi || n > 0;
        } else {
            // Expat takes single bytes up to U+FFFF only.
            map[b] = c >= 0 && c <= 0xFFFF ? static_cast<int>(c) : -1;
        }
    }
    return multi;
}

int XMLCALL convert(void* data, const char* s)
{
    multi_byte_set* set = static_cast<multi_byte_set*>(data);
    int n = -set->map[static_cast<unsigned char>(*s)];
    long c = set->decoder.decode(s, static_cast<std::size_t>(n));
    return c >= 0 ? static_cast<int>(c) : -1;
}

void XMLCALL release(void* data)
{
    delete static_cast<multi_byte_set*>(data);
}

}  // namespace

int XMLCALL xml_unknown_encoding(void* /*handler_data*/, const XML_Char* name, XML_Encoding* info)
{
    multi_byte_set* set = new (std::nothrow) multi_byte_set(name);
    if (set == nullptr) return XML_STATUS_ERROR;
    if (!set->decoder.valid()) {
        vek_trace("xml_proc: unknown encoding \"%s\"", name);
        delete set;
        return XML_STATUS_ERROR;
    }
    if (!keeps_ascii(set->decoder)) {
        vek_trace("xml_proc: encoding \"%s\" is not ASCII-compatible", name);
        delete set;
        return XML_STATUS_ERROR;
    }
    bool multi = fill_map(set->decoder, set->map);
    for (unsigned int b = 0; b < 256; ++b) info->map[b] = set->map[b];
    if (!multi) {
        // Expat needs nothing more for single bytes.
        delete set;
        return XML_STATUS_OK;
    }
    info->data = set;
    info->convert = convert;
    info->release = release;
    return XML_STATUS_OK;
}

}  // namespace vek
