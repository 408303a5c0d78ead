// vekhost's command line.
#ifndef VEKHOST_OPTIONS_H
#define VEKHOST_OPTIONS_H

#include <string>

namespace vekhost {

// Exit codes, as --help lists them.
enum exit_code { k_ok = 0, k_failed = 1, k_usage_error = 2, k_warnings = 3, k_stuck = 4 };

struct options {
    std::string trace;  // empty: the library's default
    std::string log;
    std::string config;
    std::string env_file;
    std::string status_file;         // empty: none
    unsigned int status_every = 10;  // seconds between status files
    bool check = false;
};

enum class command { run, check, help, version, usage_error };

// Fills `opts` from the arguments. For a usage error, `error` says what is
// wrong, naming the option.
command parse_options(int argc, char** argv, options& opts, std::string& error);

extern const char* const k_usage_line;
extern const char* const k_usage;

}  // namespace vekhost

#endif
