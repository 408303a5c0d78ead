// Text made safe for Tcl command lines that the library builds.
#ifndef VEK_SRC_SCRIPT_TCL_QUOTE_H
#define VEK_SRC_SCRIPT_TCL_QUOTE_H

#include <string>

namespace vek {

// `text` escaped for use between the double quotes of a Tcl word: every
// backslash, double quote, '$', '[' and ']' gets a backslash, so the word
// evaluates to `text` byte for byte.
inline std::string tcl_quoted(const char* text)
{
    std::string out;
    for (const char* p = text; *p != 0; ++p) {
        if (*p == '\\' || *p == '"' || *p == '$' || *p == '[' || *p == ']') out += '\\';
        out += *p;
    }
    return out;
}

}  // namespace vek

#endif
