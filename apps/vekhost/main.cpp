// vekhost: brings the framework up from a configuration file, optionally
// starts an application from its environment file, and keeps it running
// until SIGINT or SIGTERM. Every failure is one line on standard error
// that names its cause; the exit codes are listed in --help.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <vek/vek_core.h>

#include "check.h"
#include "config_file.h"
#include "options.h"

namespace {

using namespace vekhost;

int stop(int code);

// Takes the library down after a failed step, with its reason.
int fail(const std::string& reason)
{
    std::fprintf(stderr, "vekhost: %s\n", reason.c_str());
    return stop(k_failed);
}

// "" when the facility can be written (or is a standard stream); the
// reason otherwise. File names resolve as the library resolves them.
std::string facility_problem(const char* what, const std::string& facility)
{
    if (facility.empty() || facility == "stdout" || facility == "stderr") return "";
    std::unique_ptr<char, decltype(&std::free)> path(vek_get_absolute_path(facility.c_str()), &std::free);
    std::FILE* f = path != nullptr ? std::fopen(path.get(), "a") : nullptr;
    if (f != nullptr) {
        std::fclose(f);
        return "";
    }
    return std::string("cannot write the ") + what + " file '" + (path != nullptr ? path.get() : facility) +
           "': " + std::strerror(errno);
}

// The live status as XML text; "" without one.
std::string status_text()
{
    auto_ptr_t<vek::i_xml_node> status = vek_get_status();
    char* xml = status.is_ok() ? status->get_xml(true) : nullptr;
    std::string text = xml != nullptr ? xml : "";
    std::free(xml);
    return text;
}

// Replaces `path` with the status whole, so a reader never sees half of it.
bool write_status_file(const std::string& path)
{
    const std::string part = path + ".part";
    return vek_write_file(part.c_str(), status_text().c_str()) && std::rename(part.c_str(), path.c_str()) == 0;
}

// The status to the trace, one line of its XML per trace line.
void trace_status()
{
    std::string text = status_text();
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        vek_trace("vekhost: status: %.*s", static_cast<int>(end - start), text.c_str() + start);
        start = end + 1;
    }
}

// Ends the library. Threads that outlive the shutdown's wait are named on
// standard error, and the process ends at once with k_stuck rather than
// wait for them for ever.
int stop(int code)
{
    vek_terminate();
    char* left = vek_get_thread_report();
    if (left == nullptr) return code;
    std::fprintf(stderr, "vekhost: the shutdown did not finish; still running: %s\n", left);
    std::free(left);
    std::fflush(nullptr);
    std::_Exit(k_stuck);
}

// Opens the trace and log files again under their names (after a log
// rotation moved them away).
void reopen_facilities()
{
    const std::string trace = vek_get_trace_facility(), log = vek_get_log_facility();
    vek_set_trace_facility(trace.c_str());
    if (!log.empty()) vek_set_log_facility(log.c_str());
    vek_trace("vekhost: SIGHUP, trace and log files reopened");
}

int run(const options& opts)
{
    // Blocked before the library starts any thread, so every thread
    // inherits the mask and the signals wait for sigwait below.
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, sig);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (!vek_initialize()) {
        std::fputs("vekhost: cannot initialise the library\n", stderr);
        return k_failed;
    }
    // Facility file names resolve against VEK_ROOT_PATH, which
    // vek_initialize sets when it is unset.
    for (auto [what, name] : {std::pair{"trace", opts.trace}, std::pair{"log", opts.log}}) {
        std::string problem = facility_problem(what, name);
        if (!problem.empty()) return fail(problem);
    }
    if (!opts.trace.empty()) vek_set_trace_facility(opts.trace.c_str());
    if (!opts.log.empty()) vek_set_log_facility(opts.log.c_str());

    const std::string config = from_working_dir(opts.config);
    config_doc doc;
    std::string error;
    if (!read_config_file(config, &doc, &error)) return fail(error);
    if (!config_warnings(doc).empty())
        std::fprintf(stderr, "vekhost: warning: '%s' has what the loader ignores; vekhost --check lists it\n",
                     config.c_str());
    if (!vek_load_config(config.c_str())) return fail(vek_get_last_error());
    if (!opts.env_file.empty()) {
        const std::string env = from_working_dir(opts.env_file);
        if (!vek_init_app(env.c_str())) return fail(vek_get_last_error());
    }

    const std::string status_file = opts.status_file.empty() ? "" : from_working_dir(opts.status_file);
    const timespec every{static_cast<time_t>(opts.status_every), 0};
    for (;;) {
        if (!status_file.empty() && !write_status_file(status_file))
            std::fprintf(stderr, "vekhost: warning: cannot write the status file '%s'\n", status_file.c_str());
        int sig = sigtimedwait(&signals, nullptr, status_file.empty() ? nullptr : &every);
        if (sig == SIGHUP) {
            reopen_facilities();
        } else if (sig == SIGUSR1) {
            trace_status();
        } else if (sig > 0) {
            vek_trace("vekhost: signal %d, stopping", sig);
            break;
        }
    }
    return stop(k_ok);
}

}  // namespace

int main(int argc, char** argv)
{
    options opts;
    std::string error;
    switch (parse_options(argc, argv, opts, error)) {
        case command::help:
            std::fputs(k_usage, stdout);
            return k_ok;
        case command::version:
            std::printf("%s\n", vek_library_version());
            return k_ok;
        case command::usage_error:
            std::fprintf(stderr, "vekhost: %s\n%s", error.c_str(), k_usage_line);
            return k_usage_error;
        case command::check:
            return run_check(opts);
        case command::run:
            break;
    }
    return run(opts);
}
