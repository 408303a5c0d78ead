// Directory listing, creation and removal, and pattern-list expansion.
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "vek/core.h"
#include "vek/object/cast.h"
#include "vek/object/string.h"
#include "vek/util.h"

namespace {

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

// Position of the last '/' or '\', or npos.
std::size_t last_separator(const std::string& path)
{
    return path.find_last_of("/\\");
}

// The resolved name, or "" when it cannot be resolved.
std::string resolved(const char* path)
{
    if (path == nullptr || *path == '\0') return std::string();
    char* abs = vek_get_absolute_path(path);
    if (abs == nullptr) return std::string();
    std::string result(abs);
    std::free(abs);
    return result;
}

bool wanted(const vek::platform::dir_entry& entry, int target_type)
{
    if (entry.name == "." || entry.name == "..") return false;
    if (target_type == 1) return !entry.is_dir;
    if (target_type == 2) return entry.is_dir;
    return true;
}

// Appends a new string holding `text` to `col`.
void add_text(vek::i_object_col_x* col, const std::string& text)
{
    vek::string* item = new (std::nothrow) vek::string(text.c_str());
    if (item != nullptr) col->add_item(item);
}

// The names listed in `col`, which is released.
std::vector<std::string> take_names(vek::i_object_col* col)
{
    std::vector<std::string> names;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_object* item = col->get_item_by_pos(i);
        vek::i_string* text = vek_cast_i_string(item);
        if (text != nullptr) names.emplace_back(text->get_value());
        vek_release(item);
    }
    col->release();
    return names;
}

// Removes the contents of `dir` (resolved), files first; false at the first
// entry that stays.
bool remove_contents(const std::string& dir)
{
    vek::i_object_col* files = vek_scan_dir(dir.c_str(), "*", 1);
    vek::i_object_col* subdirs = vek_scan_dir(dir.c_str(), "*", 2);
    if (files == nullptr || subdirs == nullptr) {
        vek_release(files);
        vek_release(subdirs);
        return false;
    }
    std::vector<std::string> file_names = take_names(files);
    std::vector<std::string> dir_names = take_names(subdirs);
    for (const std::string& name : file_names) {
        if (!vek::platform::remove_file((dir + "/" + name).c_str())) return false;
    }
    for (const std::string& name : dir_names) {
        std::string sub = dir + "/" + name;
        // A link to a directory goes, not what it points to.
        bool removed = vek::platform::is_link(sub.c_str()) ? vek::platform::remove_file(sub.c_str())
                                                           : vek_rmdir(sub.c_str(), true);
        if (!removed) return false;
    }
    return true;
}

}  // namespace

vek::i_object_col* vek_scan_dir(const char* dir, const char* file_spec, int target_type)
{
    if (file_spec == nullptr || *file_spec == '\0') return nullptr;
    std::string base = resolved(dir);
    if (base.empty()) return nullptr;
    vek::i_object_col_x* col = vek_create_col();
    if (col == nullptr) return nullptr;
    // A file_spec may carry directory parts of its own; only its last
    // component holds wildcards.
    std::string search = base + "/" + file_spec;
    std::size_t sep = last_separator(search);
    std::string pattern = search.substr(sep + 1);
    search.erase(sep);
    std::vector<vek::platform::dir_entry> entries;
    if (!pattern.empty() && vek::platform::list_dir(search.empty() ? "/" : search.c_str(), pattern.c_str(), entries)) {
        for (const auto& entry : entries) {
            if (wanted(entry, target_type)) add_text(col, entry.name);
        }
    }
    return col;
}

bool vek_mkdir(const char* path)
{
    std::string dir = resolved(path);
    return !dir.empty() && vek::platform::make_dir(dir.c_str());
}

bool vek_rmdir(const char* path, bool recursive)
{
    std::string dir = resolved(path);
    if (dir.empty()) return false;
    if (recursive && !remove_contents(dir)) return false;
    return vek::platform::remove_dir(dir.c_str());
}

bool vek_make_path(const char* path)
{
    if (path == nullptr || vek_dir_exists(path)) return true;
    std::string name(path);
    for (std::size_t i = 1; i < name.size(); ++i) {
        if (!is_separator(name[i])) continue;
        std::string prefix = name.substr(0, i);
        if (!vek_dir_exists(prefix.c_str()) && !vek_mkdir(prefix.c_str()) && !vek_dir_exists(prefix.c_str())) {
            return false;
        }
    }
    return vek_mkdir(path) || vek_dir_exists(path);
}

vek::i_object_col* vek_split_path(const char* paths)
{
    if (paths == nullptr) return nullptr;
    vek::i_object_col_x* col = vek_create_col();
    if (col == nullptr) return nullptr;
    std::string list(paths);
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(start, end - start);
        start = end + 1;
        std::string full = resolved(item.c_str());
        std::size_t sep = last_separator(full);
        if (sep == std::string::npos) continue;
        std::string dir = full.substr(0, sep);
        vek::i_object_col* names = vek_scan_dir(dir.c_str(), full.c_str() + sep + 1, 1);
        if (names == nullptr) continue;
        for (const std::string& name : take_names(names)) add_text(col, dir + "/" + name);
    }
    return col;
}
