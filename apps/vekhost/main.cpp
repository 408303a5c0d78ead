// vekhost: brings the framework up from a configuration file, optionally
// starts an application from its environment file, and keeps it running
// until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstring>

#include <vek/vek_core.h>

namespace {

const char* const k_usage_line = "usage: vekhost [--trace FILE] [--log FILE] CONFIG.xml [ENV_FILE]\n";
const char* const k_usage =
    "usage: vekhost [--trace FILE] [--log FILE] CONFIG.xml [ENV_FILE]\n"
    "       vekhost --help | --version\n"
    "\n"
    "Initialises the vek library, loads the configuration file CONFIG.xml\n"
    "(environment variables and libraries), then, when ENV_FILE is given,\n"
    "loads it and starts the plug-ins and sites it lists, and runs until\n"
    "SIGINT or SIGTERM.\n"
    "\n"
    "  --trace FILE  write the trace to FILE (\"stdout\" by default; \"stderr\"\n"
    "                or a path, relative paths under VEK_ROOT_PATH)\n"
    "  --log FILE    write the log to FILE (as --trace)\n"
    "  --help        print this text\n"
    "  --version     print the library version\n";

struct options {
    const char* trace = nullptr;
    const char* log = nullptr;
    const char* config = nullptr;
    const char* env_file = nullptr;
};

enum class parse_result { run, help, version, bad };

// Fills `opts`; for a usage error, `error` says what is wrong.
parse_result parse(int argc, char** argv, options& opts, const char*& error)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) return parse_result::help;
        if (std::strcmp(arg, "--version") == 0) return parse_result::version;
        if (std::strcmp(arg, "--trace") == 0 || std::strcmp(arg, "--log") == 0) {
            if (i + 1 >= argc) {
                error = "option needs a file name";
                return parse_result::bad;
            }
            (arg[2] == 't' ? opts.trace : opts.log) = argv[++i];
        } else if (arg[0] == '-' && arg[1] != '\0') {
            error = "unknown option";
            return parse_result::bad;
        } else if (opts.config == nullptr) {
            opts.config = arg;
        } else if (opts.env_file == nullptr) {
            opts.env_file = arg;
        } else {
            error = "too many arguments";
            return parse_result::bad;
        }
    }
    error = "no configuration file given";
    return opts.config != nullptr ? parse_result::run : parse_result::bad;
}

// Takes the library down after a failed step.
int stop_failed()
{
    vek_terminate();
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    options opts;
    const char* error = nullptr;
    switch (parse(argc, argv, opts, error)) {
        case parse_result::help:
            std::fputs(k_usage, stdout);
            return 0;
        case parse_result::version:
            std::printf("%s\n", vek_library_version());
            return 0;
        case parse_result::bad:
            std::fprintf(stderr, "vekhost: %s\n%s", error, k_usage_line);
            return 2;
        case parse_result::run:
            break;
    }

    // Blocked before the library starts any thread, so every thread
    // inherits the mask and the signals wait for sigwait below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    if (!vek_initialize()) {
        std::fputs("vekhost: cannot initialise the library\n", stderr);
        return 1;
    }
    // Facility file names resolve against VEK_ROOT_PATH, which
    // vek_initialize sets when it is unset.
    if (opts.trace != nullptr) vek_set_trace_facility(opts.trace);
    if (opts.log != nullptr) vek_set_log_facility(opts.log);
    if (!vek_load_config(opts.config)) {
        std::fprintf(stderr, "vekhost: cannot load configuration '%s'\n", opts.config);
        return stop_failed();
    }
    if (opts.env_file != nullptr && !vek_init_app(opts.env_file)) {
        std::fprintf(stderr, "vekhost: cannot start the application from '%s'\n", opts.env_file);
        return stop_failed();
    }

    int sig = 0;
    sigwait(&stop_signals, &sig);
    vek_trace("vekhost: signal %d, stopping", sig);
    vek_terminate();
    return 0;
}
