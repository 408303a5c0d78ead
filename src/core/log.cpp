// Tracing and logging: time-stamped lines to the trace and log
// destinations.
//
// Lock: one logging lock guards both destinations. It is held while each
// whole line is written (so lines never interleave), for each change of
// destination and for flushing; lines are made before it is taken. The
// enabled flag and the level are read without it.
//
// Lines reach a file or a pipe within 50 ms: the tick flushes both
// destinations, and while no tick runs each line is flushed at once. So a
// crash loses at most the last 50 ms of lines, and a write syscall per
// line is paid only when nothing else would flush.
#include "core/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "vek/core.h"
#include "vek/object/sync.h"
#include "vek/util.h"

namespace vek {

namespace {

const unsigned int k_line_size = 1024;

struct destination {
    char name[k_line_size];
    std::FILE* file;
};

struct log_state {
    mutex lock;
    std::atomic<bool> trace_enabled{true};
    std::atomic<unsigned int> level{0};
    std::atomic<bool> ticking{false};
    // Whether each destination has a file, kept beside it under the lock
    // and read without it, so that a line bound nowhere is never made.
    std::atomic<bool> trace_open{true};
    std::atomic<bool> log_open{false};
    destination trace VEK_GUARDED_BY(lock){"stdout", stdout};
    destination log VEK_GUARDED_BY(lock){"", nullptr};
};

// Never destroyed, so lines may be written until the process ends.
log_state& state()
{
    static log_state* s = new log_state();
    return *s;
}

bool is_standard(std::FILE* f)
{
    return f == stdout || f == stderr;
}

// The line's time stamp, "YYYY/MM/DD hh:mm:ss: ", into `out` (at least
// 32 bytes); its length, or 0 when the local time is unknown. Each thread
// keeps the last one made: the local time conversion takes the C
// library's time zone lock, and a busy second asks for the same stamp
// many times.
std::size_t time_stamp(char* out)
{
    thread_local std::time_t last = -1;
    thread_local char text[32];
    thread_local std::size_t text_len = 0;
    const std::time_t now = std::time(nullptr);
    if (now != last) {
        std::tm local;
        if (!platform::local_time(now, &local)) return 0;
        text_len = std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S: ", &local);
        last = now;
    }
    std::memcpy(out, text, text_len);
    return text_len;
}

// The whole line, newline included, into `line`; its length, or 0 when
// there is none. Made before the logging lock is taken, so that threads
// wait for each other only while lines are copied into the files.
std::size_t format_line(char (&line)[k_line_size], const char* fmt, va_list args)
{
    std::size_t n = time_stamp(line);
    if (n == 0) return 0;
    line[n] = '\0';
    // At most 1022 - n message bytes: the text ends at 1022 at the latest,
    // leaving room for the newline and the terminator.
    if (fmt != nullptr) std::vsnprintf(line + n, k_line_size - 1 - n, fmt, args);
    std::size_t len = n + std::strlen(line + n);
    line[len++] = '\n';
    return len;
}

// One made line to the trace destination (`to_trace`) and the log
// destination (`to_log`).
void write_line(log_state& s, bool to_trace, bool to_log, const char* line, std::size_t len) VEK_REQUIRES(s.lock)
{
    std::FILE* first = to_trace ? s.trace.file : nullptr;
    std::FILE* second = to_log ? s.log.file : nullptr;
    bool flush = !s.ticking.load(std::memory_order_relaxed);
    for (std::FILE* f : {first, second}) {
        if (f == nullptr) continue;
        std::fwrite(line, 1, len, f);
        if (flush) std::fflush(f);
    }
}

// Makes the line and writes it where it goes.
void emit(log_state& s, bool to_trace, bool to_log, const char* fmt, va_list args)
{
    to_trace = to_trace && s.trace_open.load(std::memory_order_relaxed);
    to_log = to_log && s.log_open.load(std::memory_order_relaxed);
    if (!to_trace && !to_log) return;
    char line[k_line_size];
    std::size_t len = format_line(line, fmt, args);
    if (len == 0) return;
    mutex_locker lock(&s.lock);
    write_line(s, to_trace, to_log, line, len);
}

void close_destination(log_state& s, bool trace) VEK_REQUIRES(s.lock)
{
    destination& d = trace ? s.trace : s.log;
    if (d.file != nullptr && !is_standard(d.file)) std::fclose(d.file);
    d.file = nullptr;
    (trace ? s.trace_open : s.log_open).store(false);
}

// The name is resolved before the lock is taken; the old file is closed and
// the new one opened under it.
void set_facility(bool trace, const char* facility)
{
    if (facility == nullptr) return;
    char name[k_line_size];
    if (std::strcmp(facility, "stdout") == 0 || std::strcmp(facility, "stderr") == 0) {
        std::strcpy(name, facility);
    } else {
        char* path = vek_get_absolute_path(facility);
        if (path == nullptr) return;
        bool fits = std::strlen(path) < k_line_size;
        if (fits) std::strcpy(name, path);
        std::free(path);
        if (!fits) return;
    }
    log_state& s = state();
    mutex_locker lock(&s.lock);
    close_destination(s, trace);
    destination& d = trace ? s.trace : s.log;
    std::strcpy(d.name, name);
    if (std::strcmp(d.name, "stdout") == 0) {
        d.file = stdout;
    } else if (std::strcmp(d.name, "stderr") == 0) {
        d.file = stderr;
    } else if (d.name[0] != '\0') {
        d.file = std::fopen(d.name, "a");
    }
    (trace ? s.trace_open : s.log_open).store(d.file != nullptr);
}

}  // namespace

void log_flush_files()
{
    log_state& s = state();
    mutex_locker lock(&s.lock);
    if (s.trace.file != nullptr) std::fflush(s.trace.file);
    if (s.log.file != nullptr) std::fflush(s.log.file);
}

void log_set_ticking(bool ticking)
{
    state().ticking.store(ticking);
    if (!ticking) log_flush_files();
}

void log_close_files()
{
    log_state& s = state();
    mutex_locker lock(&s.lock);
    close_destination(s, true);
    close_destination(s, false);
}

}  // namespace vek

using vek::state;

void vek_trace(const char* fmt, ...)
{
    vek::log_state& s = state();
    if (!s.trace_enabled.load(std::memory_order_relaxed)) return;
    va_list args;
    va_start(args, fmt);
    vek::emit(s, true, false, fmt, args);
    va_end(args);
}

void vek_log(unsigned int level, const char* fmt, ...)
{
    vek::log_state& s = state();
    bool to_trace = s.trace_enabled.load(std::memory_order_relaxed);
    bool to_log = level <= s.level.load(std::memory_order_relaxed);
    va_list args;
    va_start(args, fmt);
    vek::emit(s, to_trace, to_log, fmt, args);
    va_end(args);
}

void vek_enable_trace(bool enable)
{
    state().trace_enabled.store(enable);
}

void vek_set_log_level(unsigned int level)
{
    state().level.store(level);
}

void vek_set_log_facility(const char* facility)
{
    vek::set_facility(false, facility);
}

// Both getters return the name's own buffer without the lock: no lock taken
// here could cover the caller's reading of it.
const char* vek_get_log_facility()
{
    return state().log.name;
}

void vek_set_trace_facility(const char* facility)
{
    vek::set_facility(true, facility);
}

const char* vek_get_trace_facility()
{
    return state().trace.name;
}
