#include "router.h"

#include <mutex>

namespace vek {
namespace http {

namespace {

std::vector<std::string> split_path(const std::string& path)
{
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

bool router::add(const std::string& method, const std::string& pattern, const handler& h)
{
    if (method.empty() || pattern.empty() || pattern[0] != '/') return false;
    route r{method, pattern, {}, 0, h};
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, "/*") == 0) {
        r.kind = 2;
        r.pattern.pop_back();  // keeps the '/': "/static/" matches "/static/a"
    } else if (pattern.find("/:") != std::string::npos) {
        r.kind = 1;
        r.segments = split_path(pattern);
    }
    std::unique_lock<std::shared_mutex> hold(m_lock);
    for (route& old : m_routes) {
        if (old.method == r.method && old.pattern == r.pattern && old.kind == r.kind) {
            old.target = h;
            return true;
        }
    }
    m_routes.push_back(std::move(r));
    return true;
}

bool router::matches(const route& r, const std::string& path, params* values)
{
    if (r.kind == 0) return path == r.pattern;
    if (r.kind == 2) return path.compare(0, r.pattern.size(), r.pattern) == 0 || path + "/" == r.pattern;
    std::vector<std::string> parts = split_path(path);
    if (parts.size() != r.segments.size()) return false;
    params found;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& s = r.segments[i];
        if (s.size() > 1 && s[0] == ':') {
            if (parts[i].empty()) return false;
            found.emplace_back(s.substr(1), parts[i]);
        } else if (s != parts[i]) {
            return false;
        }
    }
    *values = std::move(found);
    return true;
}

router::result router::find(const std::string& method, const std::string& path, handler* h, params* values,
                            std::string* allow) const
{
    std::shared_lock<std::shared_mutex> hold(m_lock);
    const route* best = nullptr;
    params best_values;
    allow->clear();
    for (const route& r : m_routes) {
        params v;
        if (!matches(r, path, &v)) continue;
        if (r.method != "*" && r.method != method) {
            if (allow->find(r.method) == std::string::npos) *allow += (allow->empty() ? "" : ", ") + r.method;
            continue;
        }
        // Exact before named before prefix; the longest prefix; the first named.
        if (best == nullptr || r.kind < best->kind ||
            (r.kind == 2 && best->kind == 2 && r.pattern.size() > best->pattern.size())) {
            best = &r;
            best_values = std::move(v);
        }
    }
    if (best == nullptr) return allow->empty() ? no_route : wrong_method;
    *h = best->target;
    *values = std::move(best_values);
    return found;
}

}  // namespace http
}  // namespace vek
