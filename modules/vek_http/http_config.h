// The HTTP module's settings, read from the process environment (which an
// application's environment file fills) when the module is entered.
//
// Variable                      default      meaning
// VEK_HTTP_ADDRESS              127.0.0.1    address to listen on
// VEK_HTTP_PORT                 8080         port to listen on
// VEK_HTTP_THREADS              2            worker threads
// VEK_HTTP_MAX_HEADER           16384        bytes of request line and headers
// VEK_HTTP_MAX_BODY             1048576      bytes of request body
// VEK_HTTP_MAX_CONNECTIONS      1000         open connections in all
// VEK_HTTP_IDLE_TIMEOUT         30           seconds a connection may stay silent
// VEK_HTTP_REQUEST_TIMEOUT      30           seconds to send a whole request
//
// A value that is not a whole number in its range is refused with a log
// line, and the module does not start.
#ifndef VEK_HTTP_HTTP_CONFIG_H
#define VEK_HTTP_HTTP_CONFIG_H

#include <string>

namespace vek {
namespace http {

struct http_config {
    std::string address = "127.0.0.1";
    unsigned int port = 8080;
    unsigned int threads = 2;
    unsigned int max_header = 16384;
    unsigned int max_body = 1048576;
    unsigned int max_connections = 1000;
    unsigned int idle_timeout = 30;
    unsigned int request_timeout = 30;
};

// Reads the variables over the defaults. False (with a log line naming the
// variable and its value) when one is out of range.
bool read_http_config(http_config* config);

}  // namespace http
}  // namespace vek

#endif
