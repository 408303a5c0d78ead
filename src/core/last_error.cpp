#include "core/last_error.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "vek/core.h"

namespace vek {

namespace {

thread_local std::string t_last_error;

}  // namespace

void set_last_error(const char* fmt, ...)
{
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    try {
        t_last_error = text;
    } catch (...) {
        t_last_error.clear();  // out of memory: no reason rather than none at all
    }
}

void clear_last_error()
{
    t_last_error.clear();
}

}  // namespace vek

const char* vek_get_last_error()
{
    return vek::t_last_error.c_str();
}
