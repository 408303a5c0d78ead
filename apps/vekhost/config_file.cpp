#include "config_file.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace vekhost {

namespace {

struct reader {
    XML_Parser parser;
    config_doc* doc;
    std::vector<std::string> open;  // names of the open elements
};

void on_start(void* data, const XML_Char* name, const XML_Char** attributes)
{
    auto* r = static_cast<reader*>(data);
    config_element e;
    e.name = name;
    e.parent = r->open.empty() ? "" : r->open.back();
    e.line = XML_GetCurrentLineNumber(r->parser);
    for (const XML_Char** a = attributes; *a != nullptr; a += 2) e.attributes.emplace_back(a[0], a[1]);
    r->doc->elements.push_back(std::move(e));
    r->open.emplace_back(name);
}

void on_end(void* data, const XML_Char*)
{
    static_cast<reader*>(data)->open.pop_back();
}

// The whole file, or false with `problem` set to the system's reason.
bool read_whole(const std::string& path, std::string* text, std::string* problem)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) errno = EISDIR;
    if (fd < 0 || S_ISDIR(st.st_mode)) {
        *problem = std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text->append(buf, static_cast<size_t>(n));
    if (n < 0) *problem = std::strerror(errno);
    close(fd);
    return n == 0;
}

}  // namespace

const std::string& config_element::attribute(const char* wanted) const
{
    static const std::string none;
    for (const auto& a : attributes)
        if (a.first == wanted) return a.second;
    return none;
}

bool config_element::has(const char* wanted) const
{
    for (const auto& a : attributes)
        if (a.first == wanted) return true;
    return false;
}

std::string from_working_dir(const std::string& path)
{
    if (path.empty() || path[0] == '/') return path;
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

std::vector<std::pair<unsigned long, std::string>> config_warnings(const config_doc& doc)
{
    // The elements and attributes the loader reads, by parent.
    static const struct {
        const char* parent;
        const char* name;
        std::vector<std::string> attributes;
    } known[] = {{"config", "variables", {}},
                 {"config", "libraries", {}},
                 {"variables", "variable", {"name", "value", "type", "platform"}},
                 {"libraries", "library", {"path", "priority", "platform", "ignore_error", "name"}}};
    std::vector<std::pair<unsigned long, std::string>> out;
    const config_element& root = doc.elements.front();
    if (root.name != "config") out.emplace_back(root.line, "the root element is '" + root.name + "', not 'config'");
    for (size_t i = 1; i < doc.elements.size(); ++i) {
        const config_element& e = doc.elements[i];
        const std::string parent = e.parent == root.name ? "config" : e.parent;
        auto k = std::find_if(std::begin(known), std::end(known),
                              [&](const auto& row) { return parent == row.parent && e.name == row.name; });
        if (k == std::end(known)) {
            out.emplace_back(e.line, "unknown element '" + e.name + "' in '" + e.parent + "'; it is ignored");
            continue;
        }
        for (const auto& a : e.attributes)
            if (std::find(k->attributes.begin(), k->attributes.end(), a.first) == k->attributes.end())
                out.emplace_back(e.line, "unknown attribute '" + a.first + "' of '" + e.name + "'; it is ignored");
    }
    return out;
}

bool read_config_file(const std::string& path, config_doc* doc, std::string* error)
{
    std::string text, problem;
    if (!read_whole(path, &text, &problem)) {
        *error = "cannot read configuration '" + path + "': " + problem;
        return false;
    }
    reader r{XML_ParserCreate(nullptr), doc, {}};
    if (r.parser == nullptr) {
        *error = "out of memory";
        return false;
    }
    XML_SetUserData(r.parser, &r);
    XML_SetElementHandler(r.parser, on_start, on_end);
    bool ok = XML_Parse(r.parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
    if (!ok) {
        *error = "configuration '" + path + "', line " + std::to_string(XML_GetCurrentLineNumber(r.parser)) +
                 ", column " + std::to_string(XML_GetCurrentColumnNumber(r.parser) + 1) + ": " +
                 XML_ErrorString(XML_GetErrorCode(r.parser));
    }
    XML_ParserFree(r.parser);
    return ok;
}

}  // namespace vekhost
