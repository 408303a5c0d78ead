// The routes of the HTTP module: method and path pattern to handler (the
// matching rules are in <vek/http.h>).
//
// Thread safety: safe for concurrent use; finds copy the handler out, so
// routes may change while requests are served.
#ifndef VEK_HTTP_ROUTER_H
#define VEK_HTTP_ROUTER_H

#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "vek/http.h"

namespace vek {
namespace http {

// A Tcl command (called with the request command's name) or a C++
// function with its context.
struct handler {
    std::string command;
    http_handler function = nullptr;
    void* context = nullptr;
};

typedef std::vector<std::pair<std::string, std::string>> params;

class router {
public:
    enum result { found, no_route, wrong_method };

    // False for an empty method or a pattern that does not start with '/'.
    bool add(const std::string& method, const std::string& pattern, const handler& h);
    // The handler for the request and the values of its named segments;
    // with wrong_method, `*allow` lists the methods the path has.
    result find(const std::string& method, const std::string& path, handler* h, params* values,
                std::string* allow) const;

private:
    struct route {
        std::string method;
        std::string pattern;
        std::vector<std::string> segments;  // for named patterns
        int kind;                           // 0 exact, 1 named, 2 prefix
        handler target;
    };
    static bool matches(const route& r, const std::string& path, params* values);

    mutable std::shared_mutex m_lock;
    std::vector<route> m_routes;  // GUARDED_BY(m_lock)
};

}  // namespace http
}  // namespace vek

#endif
