// The HTTP module's API for C++ modules: a handler answers one request on
// one of the module's worker threads.
//
// Routes: a pattern is an exact path ("/about"), a prefix ending in "/*"
// ("/static/*"), or a path with named segments (":id" in
// "/product/:id"). An exact route beats a named one, which beats a
// prefix; among prefixes the longest wins, among named routes the first
// registered. The method "*" matches any method. Registering the same
// method and pattern again replaces the handler.
//
// Thread safety: vek_http_route is safe for concurrent use, also while
// requests are served. An http_request belongs to the worker thread that
// calls the handler, and only for the length of that call.
#ifndef VEK_HTTP_H
#define VEK_HTTP_H

#include <cstddef>

#include "vek/module.h"

namespace vek {

class http_request {
public:
    // Texts owned by the request, valid during the handler's call; "" when
    // absent.
    virtual const char* method() = 0;
    virtual const char* path() = 0;
    virtual const char* header(const char* name) = 0;
    virtual const char* query(const char* name) = 0;
    virtual const char* cookie(const char* name) = 0;
    virtual const char* param(const char* name) = 0;
    // A field of an "application/x-www-form-urlencoded" body.
    virtual const char* form(const char* name) = 0;
    // The body as received (not NUL-terminated; `size` gets its length).
    virtual const char* body(std::size_t* size) = 0;
    // The language the request's Accept-Language prefers, lower case
    // ("" without one).
    virtual const char* language() = 0;

    // Adds a header to the answer.
    virtual void set_header(const char* name, const char* value) = 0;
    // Answers with a status and a body (copied).
    virtual void respond(unsigned int status, const char* body, std::size_t size, const char* content_type) = 0;
    // Answers with a redirect (302 unless `status` is another 3xx code).
    virtual void redirect(const char* location, unsigned int status = 302) = 0;

protected:
    ~http_request() = default;
};

// A handler that answers nothing, or returns false, gets a 500.
typedef bool (*http_handler)(http_request* request, void* context);

}  // namespace vek

// Routes `method` and `pattern` to `handler`, which is called with
// `context`. False for a null or malformed argument or when the module is
// not running.
VEK_MODULE_EXPORT bool vek_http_route(const char* method, const char* pattern, vek::http_handler handler,
                                      void* context);

#endif
