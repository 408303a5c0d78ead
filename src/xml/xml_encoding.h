// Documents in character sets Expat does not know itself (it knows UTF-8,
// UTF-16, ISO-8859-1 and US-ASCII) are read through iconv.
//
// Expat asks once per parse, naming the set from the XML declaration; the
// answer maps every byte to its character, or marks it as the first byte of
// a sequence of 2 to 4 bytes whose length that byte alone decides. Such
// sequences are then decoded one by one. Sets where the length depends on
// later bytes, or whose ASCII bytes mean something else, are refused by
// Expat, and the parse fails.
//
// Thread safety: each parse gets its own decoder.
#ifndef VEK_XML_XML_ENCODING_H
#define VEK_XML_XML_ENCODING_H

#include <expat.h>

namespace vek {

// Expat's unknown-encoding handler. An encoding iconv does not know gives a
// trace line naming it, and the parse fails.
int XMLCALL xml_unknown_encoding(void* handler_data, const XML_Char* name, XML_Encoding* info);

}  // namespace vek

#endif
