// Environment files: the lines of NAME=value text turned into the
// assignments they make.
//
// The parser reads nothing from and writes nothing to the environment, so
// it can run on any bytes; applying an assignment is the caller's business.
//
// Thread safety: parse_env_text is safe for concurrent use.
#ifndef VEK_CORE_ENV_LOADER_H
#define VEK_CORE_ENV_LOADER_H

#include <cstddef>
#include <functional>

namespace vek {

// One assignment. Every pointer is valid only during the call that hands
// the assignment over.
struct env_assignment {
    const char* line;  // the line without its comment (not terminated)
    std::size_t line_length;
    unsigned int line_number;  // from 1, counting every line end
    const char* name;          // trimmed and without the '^' flag; never empty
    const char* value;         // trimmed; ${NAME} references still in it
    bool only_if_unset;        // the name ended in '^' before trimming
};

// Calls `apply` for each line of the `length` bytes at `text`, in order,
// that makes an assignment. Lines end at any run of CR and LF; a '#'
// anywhere starts a comment; a line without '=' makes none; the name ends
// at the first '='. Names and values are trimmed as vek_trim trims. A line
// that has '=' but cannot be applied (an empty name, a NUL byte before its
// comment) goes to `skip` with its number and the reason; the lines after
// it still count. A line whose copy cannot be made for want of memory is
// skipped.
void parse_env_text(const char* text, std::size_t length, const std::function<void(const env_assignment&)>& apply,
                    const std::function<void(unsigned int line_number, const char* reason)>& skip);

}  // namespace vek

#endif
