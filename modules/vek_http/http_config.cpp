#include "http_config.h"

#include <cerrno>
#include <cstdlib>

#include <vek/vek_core.h>

namespace vek {
namespace http {

namespace {

// Sets `*value` from the variable when it is set; false when its text is
// not a whole number from `low` to `high`.
bool read_number(const char* name, unsigned int low, unsigned int high, unsigned int* value)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0) return true;
    char* end = nullptr;
    errno = 0;
    unsigned long n = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != 0 || *text == '-' || n < low || n > high) {
        vek_log(0, "vek_http: %s='%s' is not a number from %u to %u", name, text, low, high);
        return false;
    }
    *value = static_cast<unsigned int>(n);
    return true;
}

}  // namespace

bool read_http_config(http_config* config)
{
    const char* address = std::getenv("VEK_HTTP_ADDRESS");
    if (address != nullptr && *address != 0) config->address = address;
    return read_number("VEK_HTTP_PORT", 0, 65535, &config->port) &&
           read_number("VEK_HTTP_THREADS", 1, 256, &config->threads) &&
           read_number("VEK_HTTP_MAX_HEADER", 1024, 1 << 24, &config->max_header) &&
           read_number("VEK_HTTP_MAX_BODY", 0, 1u << 31, &config->max_body) &&
           read_number("VEK_HTTP_MAX_CONNECTIONS", 1, 1000000, &config->max_connections) &&
           read_number("VEK_HTTP_IDLE_TIMEOUT", 1, 86400, &config->idle_timeout) &&
           read_number("VEK_HTTP_REQUEST_TIMEOUT", 1, 86400, &config->request_timeout);
}

}  // namespace http
}  // namespace vek
