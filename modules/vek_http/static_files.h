// Files answered from disk: a site's static directory, and the file a
// handler names (Tcl: ::vek_http::req file PATH).
//
// A static directory answers GET and HEAD below its prefix. The path is
// taken segment by segment: a "..", an encoded backslash, or a file that
// resolves (through symbolic links) outside the directory
// is a 404. The kernel resolves the path beneath the directory in one
// call (openat2 with RESOLVE_BENEATH); kernels without it get the same
// rule through realpath. A directory answers with its index.html. Every
// file answer carries a content type from the file's extension, an ETag
// (size and modification time) and Last-Modified; If-None-Match and
// If-Modified-Since give 304, a single byte range 206 (or 416 when it lies
// past the end). Files of a static directory up to 64 KB are answered
// from each worker's memory while they stay the same (static_cache.h);
// larger ones go out with sendfile.
//
// Thread safety: a static_dir is read-only after construction.
#ifndef VEK_HTTP_STATIC_FILES_H
#define VEK_HTTP_STATIC_FILES_H

#include <string>

#include "request.h"

namespace vek {
namespace http {

struct static_dir {
    static_dir() = default;
    static_dir(const static_dir&) = delete;
    static_dir& operator=(const static_dir&) = delete;
    ~static_dir();

    std::string prefix;  // "/static/"
    std::string root;    // the directory, with symbolic links resolved
    int root_fd = -1;    // the directory, opened for lookups below it
};

// Answers `req` with the file at `path` (conditional and range requests
// included). False, with nothing answered, when it is not a readable
// regular file.
bool answer_file(request* req, const std::string& path);

// The route handler of a static directory (`context` is its static_dir).
bool answer_static(http_request* req, void* context);

// The content type for a file name, by its extension.
const char* content_type_of(const std::string& name);

}  // namespace http
}  // namespace vek

#endif
