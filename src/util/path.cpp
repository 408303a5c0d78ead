// Resolution of file names against the root directory, and existence
// tests.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/fs.h"
#include "vek/core.h"
#include "vek/util.h"

namespace {

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

char* copy_text(const std::string& text)
{
    return strdup(text.c_str());
}

// An absolute name starts with a separator; drive letters are ordinary
// relative names on this platform.
bool is_absolute(const char* path)
{
    return is_separator(path[0]);
}

char* with_forward_slashes(const char* path)
{
    char* copy = strdup(path);
    if (copy == nullptr) return nullptr;
    for (char* p = copy; *p != '\0'; ++p) {
        if (*p == '\\') *p = '/';
    }
    return copy;
}

// Splits at every separator; a trailing empty component is dropped and
// quote characters are removed.
void split_components(const char* text, std::vector<std::string>& out)
{
    std::string current;
    for (const char* p = text; *p != '\0'; ++p) {
        if (is_separator(*p)) {
            out.push_back(current);
            current.clear();
        } else if (*p != '"') {
            current.push_back(*p);
        }
    }
    if (!current.empty()) out.push_back(current);
}

// Drops "." components and folds each ".." into the component before it.
// A ".." in the first position stays.
void normalise(std::vector<std::string>& comps)
{
    std::vector<std::string> kept;
    kept.reserve(comps.size());
    for (auto& c : comps) {
        if (c != ".") kept.push_back(std::move(c));
    }
    std::size_t i = 1;
    while (i < kept.size()) {
        if (kept[i] != "..") {
            ++i;
            continue;
        }
        kept.erase(kept.begin() + static_cast<long>(i) - 1, kept.begin() + static_cast<long>(i) + 1);
        // Go on where the removed pair began; the first position needs no
        // look.
        i = i > 1 ? i - 1 : 1;
    }
    comps.swap(kept);
}

// Expands references through the string service, then normalises.
char* resolve_full(const char* root, const char* rel_path)
{
    vek::i_object* svc = vek_core()->get_service("svc_string");
    vek::i_string_proc* proc = vek_cast_i_string_proc(svc);
    if (proc == nullptr) {
        vek_release(svc);
        return nullptr;
    }
    char* slashed = with_forward_slashes(rel_path);
    char* processed = slashed != nullptr ? proc->process(slashed, nullptr) : nullptr;
    std::free(slashed);
    svc->release();
    if (processed == nullptr) return nullptr;

    std::vector<std::string> comps;
    std::vector<std::string> text_comps;
    split_components(root, comps);
    split_components(processed, text_comps);
    std::free(processed);
    if (!text_comps.empty() && text_comps.front().empty()) comps.clear();
    comps.insert(comps.end(), text_comps.begin(), text_comps.end());
    normalise(comps);

    std::string joined;
    for (std::size_t i = 0; i < comps.size(); ++i) {
        if (i > 0) joined.push_back('/');
        joined += comps[i];
    }
    return copy_text(joined);
}

// Tests the name with its trailing separators stripped (a lone separator
// stays).
vek::platform::entry_kind kind_of(const char* pathname)
{
    if (pathname == nullptr || *pathname == '\0') return vek::platform::entry_kind::none;
    std::string name(pathname);
    while (name.size() > 1 && is_separator(name.back())) name.pop_back();
    return vek::platform::path_kind(name.c_str());
}

}  // namespace

char* vek_get_absolute_path(const char* rel_path)
{
    const char* root = vek::platform::get_env("VEK_ROOT_PATH");
    if (vek_core() == nullptr || rel_path == nullptr || root == nullptr) return nullptr;
    bool simple = std::strstr(rel_path, "..") == nullptr && std::strchr(rel_path, '$') == nullptr &&
                  std::strstr(root, "..") == nullptr;
    if (!simple) return resolve_full(root, rel_path);
    if (is_absolute(rel_path)) return with_forward_slashes(rel_path);
    std::string joined(root);
    joined.push_back('/');
    joined += rel_path;
    return copy_text(joined);
}

bool vek_dir_exists(const char* pathname)
{
    return kind_of(pathname) == vek::platform::entry_kind::directory;
}

bool vek_file_exists(const char* pathname)
{
    return kind_of(pathname) == vek::platform::entry_kind::file;
}
