#include "options.h"

#include <cstdlib>
#include <cstring>

namespace vekhost {

const char* const k_usage_line = "usage: vekhost [OPTIONS] CONFIG.xml [ENV_FILE]\n";
const char* const k_usage =
    "usage: vekhost [OPTIONS] CONFIG.xml [ENV_FILE]\n"
    "       vekhost --check CONFIG.xml [ENV_FILE]\n"
    "       vekhost --help | --version\n"
    "\n"
    "Initialises the vek library, loads the configuration file CONFIG.xml\n"
    "(environment variables and libraries), then, when ENV_FILE is given,\n"
    "loads it and starts the plug-ins and sites it lists, and runs until\n"
    "SIGINT or SIGTERM. Relative paths on the command line are taken from\n"
    "the working directory.\n"
    "\n"
    "  --trace FILE        write the trace to FILE (\"stdout\" by default;\n"
    "                      \"stderr\" or a path, relative paths under\n"
    "                      VEK_ROOT_PATH)\n"
    "  --log FILE          write the log to FILE (as --trace)\n"
    "  --status-file FILE  write the live status to FILE every N seconds\n"
    "  --status-every N    seconds between status files (default 10)\n"
    "  --check             check CONFIG.xml and ENV_FILE, load nothing, and\n"
    "                      report what a run would do\n"
    "  -h, --help          print this text\n"
    "  --version           print the library version\n"
    "  --                  end of options\n"
    "\n"
    "Signals: SIGINT and SIGTERM stop the host; SIGHUP reopens the trace\n"
    "and log files (for log rotation); SIGUSR1 writes the live status to\n"
    "the trace.\n"
    "\n"
    "Exit codes: 0 success; 1 a failure (the reason is on standard error);\n"
    "2 a usage error; 3 --check found only warnings; 4 threads still ran\n"
    "when the shutdown's wait ended (they are named on standard error).\n";

namespace {

// The value of option `name` given as "--name=VALUE" or "--name VALUE".
// Null with `error` set when there is none.
const char* option_value(int argc, char** argv, int& i, const char* name, std::string& error)
{
    const char* arg = argv[i];
    std::size_t n = std::strlen(name);
    if (arg[n] == '=') return arg + n + 1;
    if (i + 1 < argc) return argv[++i];
    error = std::string("option '") + name + "' needs a value";
    return nullptr;
}

bool is_option(const char* arg, const char* name)
{
    std::size_t n = std::strlen(name);
    return std::strncmp(arg, name, n) == 0 && (arg[n] == 0 || arg[n] == '=');
}

}  // namespace

command parse_options(int argc, char** argv, options& opts, std::string& error)
{
    bool positional_only = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        std::string* target = nullptr;
        if (positional_only || arg[0] != '-' || arg[1] == 0) {
            if (positional == 2) {
                error = std::string("too many arguments ('") + arg + "')";
                return command::usage_error;
            }
            (positional++ == 0 ? opts.config : opts.env_file) = arg;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            positional_only = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            return command::help;
        } else if (std::strcmp(arg, "--version") == 0) {
            return command::version;
        } else if (std::strcmp(arg, "--check") == 0) {
            opts.check = true;
        } else if (is_option(arg, "--trace")) {
            target = &opts.trace;
        } else if (is_option(arg, "--log")) {
            target = &opts.log;
        } else if (is_option(arg, "--status-file")) {
            target = &opts.status_file;
        } else if (is_option(arg, "--status-every")) {
            const char* value = option_value(argc, argv, i, "--status-every", error);
            char* end = nullptr;
            unsigned long n = value != nullptr ? std::strtoul(value, &end, 10) : 0;
            if (value == nullptr || end == value || *end != 0 || n == 0 || n > 86400) {
                error = "option '--status-every' needs a number of seconds from 1 to 86400";
                return command::usage_error;
            }
            opts.status_every = static_cast<unsigned int>(n);
        } else {
            error = std::string("unknown option '") + arg + "'";
            return command::usage_error;
        }
        if (target != nullptr) {
            std::string name(arg, std::strcspn(arg, "="));
            const char* value = option_value(argc, argv, i, name.c_str(), error);
            if (value == nullptr || *value == 0) {
                if (value != nullptr) error = "option '" + name + "' needs a value";
                return command::usage_error;
            }
            *target = value;
        }
    }
    if (opts.config.empty()) {
        error = "no configuration file given";
        return command::usage_error;
    }
    return opts.check ? command::check : command::run;
}

}  // namespace vekhost
