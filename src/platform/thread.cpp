#include "platform/thread.h"

#include <sys/syscall.h>
#include <tcl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <clocale>
#include <mutex>
#include <string>

#include "platform/env.h"

namespace vek {
namespace platform {

namespace {

struct start_record {
    thread_entry entry;
    void* arg;
};

Tcl_ThreadCreateType tcl_thread_main(ClientData data)
{
    start_record rec = *static_cast<start_record*>(data);
    delete static_cast<start_record*>(data);
    rec.entry(rec.arg);
    TCL_THREAD_CREATE_RETURN;
}

}  // namespace

void init_tcl_once()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Tcl learns the locale's character set with setlocale(LC_CTYPE, "")
        // and leaves it set; the host's locale stays the host's.
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        std::string saved = current != nullptr ? current : "C";
        Tcl_FindExecutable("");
        std::setlocale(LC_CTYPE, saved.c_str());
        // Tcl makes a lock on its first use and publishes it with a plain
        // store. Made here, before any thread of ours, the environment's
        // lock reaches every thread that takes it later.
        pass_tcl_env_lock();
    });
}

bool create_thread(thread_entry entry, void* arg)
{
    init_tcl_once();
    start_record* rec = new (std::nothrow) start_record{entry, arg};
    if (rec == nullptr) return false;
    Tcl_ThreadId id;
    if (Tcl_CreateThread(&id, tcl_thread_main, rec, TCL_THREAD_STACK_DEFAULT, TCL_THREAD_NOFLAGS) != TCL_OK) {
        delete rec;
        return false;
    }
    return true;
}

void on_thread_exit(thread_exit_handler handler, void* arg)
{
    Tcl_CreateThreadExitHandler(handler, arg);
}

void remove_thread_exit(thread_exit_handler handler, void* arg)
{
    Tcl_DeleteThreadExitHandler(handler, arg);
}

void exit_thread()
{
    Tcl_ExitThread(0);
    // Tcl_ExitThread does not return; keep the compiler informed.
    for (;;) pause();
}

bool thread_is_runnable(unsigned long id)
{
    // The state is the first field after the command name, which is in
    // parentheses and may itself hold spaces and parentheses.
    char path[64], stat[512];
    std::snprintf(path, sizeof path, "/proc/self/task/%lu/stat", id);
    std::FILE* f = std::fopen(path, "re");
    if (f == nullptr) return false;
    const std::size_t n = std::fread(stat, 1, sizeof stat - 1, f);
    std::fclose(f);
    stat[n] = 0;
    const char* end = std::strrchr(stat, ')');
    return end != nullptr && end[1] == ' ' && end[2] == 'R';
}

unsigned long thread_id()
{
    // gettid is a system call; a thread's id never changes, so keep it.
    static thread_local unsigned long id = static_cast<unsigned long>(syscall(SYS_gettid));
    return id;
}

void sleep_ms(unsigned int ms)
{
    if (ms == 0) ms = 1;
    timespec req;
    req.tv_sec = ms / 1000;
    req.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
}  // namespace vek
