#include "static_files.h"

#include "static_cache.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

namespace vek {
namespace http {

namespace {

// The last date formatted is kept per thread: requests for one file ask
// for the same date again and again.
std::string http_date(time_t t)
{
    thread_local time_t last = -1;
    thread_local std::string last_text;
    if (t == last) return last_text;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    last = t;
    last_text = text;
    return last_text;
}

// -1 when the text is not an HTTP date.
time_t parse_http_date(const char* text)
{
    std::tm tm{};
    const char* end = strptime(text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return end != nullptr && *end == 0 ? timegm(&tm) : -1;
}

// A single "bytes=" range of a file of `size` bytes: 1 with `*first` and
// `*last` set, 0 when there is none to honour, -1 when it lies past the end.
int parse_range(const char* text, unsigned long long size, unsigned long long* first, unsigned long long* last)
{
    if (std::strncmp(text, "bytes=", 6) != 0 || std::strchr(text, ',') != nullptr) return 0;
    const char* p = text + 6;
    char* end = nullptr;
    if (*p == '-') {  // the last N bytes
        unsigned long long n = std::strtoull(p + 1, &end, 10);
        if (end == p + 1 || *end != 0) return 0;
        if (n == 0 || size == 0) return -1;
        *first = n >= size ? 0 : size - n;
        *last = size - 1;
        return 1;
    }
    unsigned long long a = std::strtoull(p, &end, 10);
    if (end == p || *end != '-') return 0;
    const char* q = end + 1;
    unsigned long long b = *q == 0 ? ULLONG_MAX : std::strtoull(q, &end, 10);
    if ((*q != 0 && *end != 0) || b < a) return 0;
    if (a >= size) return -1;
    *first = a;
    *last = b >= size ? size - 1 : b;
    return 1;
}

}  // namespace

const char* content_type_of(const std::string& name)
{
    static const char* const types[][2] = {{".html", "text/html; charset=utf-8"},
                                           {".htm", "text/html; charset=utf-8"},
                                           {".css", "text/css; charset=utf-8"},
                                           {".js", "text/javascript; charset=utf-8"},
                                           {".json", "application/json"},
                                           {".txt", "text/plain; charset=utf-8"},
                                           {".xml", "application/xml"},
                                           {".svg", "image/svg+xml"},
                                           {".png", "image/png"},
                                           {".jpg", "image/jpeg"},
                                           {".jpeg", "image/jpeg"},
                                           {".gif", "image/gif"},
                                           {".webp", "image/webp"},
                                           {".ico", "image/x-icon"},
                                           {".pdf", "application/pdf"},
                                           {".woff2", "font/woff2"},
                                           {".wasm", "application/wasm"}};
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.find('/', dot) == std::string::npos) {
        for (const auto& t : types)
            if (strcasecmp(name.c_str() + dot, t[0]) == 0) return t[1];
    }
    return "application/octet-stream";
}

namespace {

// Files up to this size (the largest a worker keeps) are read and sent
// with their headers in one write; larger ones go out from the descriptor.
constexpr unsigned long long small_file = k_cached_file_max;

// Answers with the part of the open file `fd` from `first` (`size` bytes),
// which it takes over.
void answer_content(request* req, unsigned int status, int fd, unsigned long long first, unsigned long long size,
                    const char* content_type)
{
    if (size <= small_file) {
        std::string data(size, '\0');
        if (pread(fd, data.data(), size, static_cast<off_t>(first)) == static_cast<ssize_t>(size)) {
            close(fd);
            req->respond(status, std::move(data), content_type);
            return;
        }
    }
    req->respond_file(status, fd, first, size, content_type);
}

// Sets the validators of the file `st` (ETag, Last-Modified) and answers
// when they decide: 304 when the client's copy is current, 416 for a range
// past the end; then true. Otherwise gives the part to send and its
// status, and false.
bool answered_by_validators(request* req, const struct stat& st, unsigned long long* first,
                            unsigned long long* size, unsigned int* status)
{
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                      static_cast<unsigned long long>(st.st_mtim.tv_nsec));
    req->set_header("ETag", etag);
    req->set_header("Last-Modified", http_date(st.st_mtime).c_str());
    req->set_header("Accept-Ranges", "bytes");
    const char* match = req->header("If-None-Match");
    time_t since = *match == 0 ? parse_http_date(req->header("If-Modified-Since")) : -1;
    if ((*match != 0 && (std::strcmp(match, "*") == 0 || std::strstr(match, etag) != nullptr)) ||
        (since >= 0 && st.st_mtime <= since)) {
        req->respond(304, "", 0, nullptr);
        return true;
    }
    unsigned long long total = static_cast<unsigned long long>(st.st_size), last = total - 1;
    *first = 0;
    int range = parse_range(req->header("Range"), total, first, &last);
    char content_range[96];
    if (range < 0) {
        std::snprintf(content_range, sizeof content_range, "bytes */%llu", total);
        req->set_header("Content-Range", content_range);
        req->respond(416, "", 0, nullptr);
        return true;
    }
    if (range > 0) {
        std::snprintf(content_range, sizeof content_range, "bytes %llu-%llu/%llu", *first, last, total);
        req->set_header("Content-Range", content_range);
    }
    *size = range > 0 ? last - *first + 1 : total;
    *status = range > 0 ? 206 : 200;
    return false;
}

// Answers with the open file `fd` (named `name`; `known` its status when
// the caller has it), which it takes over. False, with nothing answered,
// when it is not a regular file.
bool answer_open_file(request* req, int fd, const std::string& name, const struct stat* known = nullptr)
{
    struct stat st {};
    if (known != nullptr) {
        st = *known;
    } else if (fd >= 0 && fstat(fd, &st) != 0) {
        st.st_mode = 0;
    }
    if (fd < 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        return false;
    }
    unsigned long long first = 0, size = 0;
    unsigned int status = 0;
    if (answered_by_validators(req, st, &first, &size, &status)) {
        close(fd);
        return true;
    }
    answer_content(req, status, fd, first, size, content_type_of(name));
    return true;
}

// Answers with a kept file's bytes, as answer_open_file would from disk.
void answer_cached(request* req, const cached_file& file, const std::string& name)
{
    unsigned long long first = 0, size = 0;
    unsigned int status = 0;
    if (answered_by_validators(req, file.st, &first, &size, &status)) return;
    req->respond(status, file.bytes.substr(first, size), content_type_of(name));
}

// Reads the whole regular file `fd` (status `st`, at most
// k_cached_file_max bytes), taking it over,
// into the calling thread's cache under `key`, and answers from
// there. False, with `fd` still open and nothing answered, when it could
// not be read whole.
bool answer_and_keep(request* req, int fd, const struct stat& st, const std::string& key, const std::string& name)
{
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    if (pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) return false;
    close(fd);
    answer_cached(req, keep_cached(key, st, std::move(bytes)), name);
    return true;
}

// `path` opened read-only beneath `dir_fd`, never outside it; -1 with
// errno ENOSYS where the kernel cannot promise that.
int open_beneath(int dir_fd, const char* path)
{
    open_how how{};
    how.flags = O_RDONLY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, dir_fd, path, &how, sizeof how));
}

// The file below the directory by realpath: for kernels without openat2.
int open_resolved(const static_dir& dir, const std::string& rest, std::string* name)
{
    std::string path = dir.root + "/" + rest;
    char resolved[PATH_MAX];
    struct stat st {};
    if (realpath(path.c_str(), resolved) == nullptr || stat(resolved, &st) != 0) return -1;
    if (S_ISDIR(st.st_mode) && realpath((std::string(resolved) + "/index.html").c_str(), resolved) == nullptr)
        return -1;
    if (std::strncmp(resolved, (dir.root + "/").c_str(), dir.root.size() + 1) != 0) return -1;
    *name = resolved;
    return open(resolved, O_RDONLY | O_CLOEXEC);
}

}  // namespace

bool answer_file(request* req, const std::string& path)
{
    return answer_open_file(req, open(path.c_str(), O_RDONLY | O_CLOEXEC), path);
}

static_dir::~static_dir()
{
    if (root_fd >= 0) close(root_fd);
}

bool answer_static(http_request* base, void* context)
{
    auto* req = static_cast<request*>(base);
    auto* dir = static_cast<const static_dir*>(context);
    std::string rest = std::string(req->path()).substr(std::min(dir->prefix.size(), std::strlen(req->path())));
    // Each segment: none may climb out or hide a separator.
    bool clean = rest.find('\\') == std::string::npos;
    for (size_t start = 0; clean && start <= rest.size();) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        std::string segment = rest.substr(start, end - start);
        clean = segment != ".." && segment != ".";
        start = end + 1;
    }
    std::string name = rest;
    const std::string key = dir->root + "/" + rest;
    if (clean && !rest.empty()) {
        const cached_file* kept = find_cached(key, dir->root_fd, rest.c_str());
        if (kept != nullptr) {
            answer_cached(req, *kept, name);
            return true;
        }
    }
    int fd = clean ? open_beneath(dir->root_fd, rest.empty() ? "." : rest.c_str()) : -1;
    struct stat st {};
    bool known = fd >= 0 && fstat(fd, &st) == 0;
    if (known && S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) <= k_cached_file_max &&
        answer_and_keep(req, fd, st, key, name))
        return true;
    if (known && S_ISDIR(st.st_mode)) {
        int index = open_beneath(fd, "index.html");
        close(fd);
        fd = index;
        name = "index.html";
        known = false;
    }
    if (clean && fd < 0 && errno == ENOSYS) fd = open_resolved(*dir, rest, &name);
    if (!answer_open_file(req, fd, name, known ? &st : nullptr))
        req->respond(404, "Not Found\n", 10, "text/plain; charset=utf-8");
    return true;
}

}  // namespace http
}  // namespace vek
