// The reader of message catalogues (".lng" files).
//
// A catalogue holds msgid/msgstr pairs in the gettext manner. The reader
// finds the text `msgid "` anywhere in the bytes (comments included), takes
// the quoted string that follows it, then finds the next `msgstr "` and
// takes its quoted string; that is one pair, and the search for the next
// msgid starts after it. A quoted string ends at the first double quote not
// directly preceded by a backslash; continuation strings on later lines are
// not joined, and "msgid_plural", "msgstr[0]" or "msgid  " (two blanks) are
// not keywords. Both strings then have their escapes decoded, and a pair
// with an empty side is dropped. Text that never completes a pair is
// ignored. The work is linear in the size of the input.
//
// Thread safety: the functions keep no state; safe for concurrent use.
#ifndef VEK_UTIL_LNG_READER_H
#define VEK_UTIL_LNG_READER_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vek {
namespace lng {

// Receives one pair (decoded msgid, decoded msgstr); the views are valid
// during the call only.
using pair_sink = std::function<void(std::string_view, std::string_view)>;

// Passes the pairs of `size` bytes at `data` to `on_pair` in file order
// (a msgid may repeat). Any bytes are accepted, NUL included. Allocates
// only for strings that hold escapes.
void parse(const char* data, std::size_t size, const pair_sink& on_pair);

// Decodes \n \r \t \" \b \f \v \? ; a backslash before anything else is
// dropped and the character after it is read as usual (so "\\n" is a line
// feed and a trailing backslash disappears).
std::string unescape(const char* text, std::size_t size);

// Reads the whole file and parses it. False, with no pair passed, when it
// cannot be opened or read.
bool read_file(const char* path, const pair_sink& on_pair);

}  // namespace lng
}  // namespace vek

#endif
