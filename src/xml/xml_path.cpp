// The path walk: slash-separated steps, each naming children (optionally
// with one "[attr=value]" test), or "." / "" (stay) and ".." (the parent).
// The walk is depth-first with an explicit stack, so results come in
// document order and a long path cannot exhaust the call stack.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "xml/xml_node.h"

namespace vek {

namespace {

bool is_test_separator(char c)
{
    return c == '[' || c == '=' || c == ']';
}

// A step that names children.
struct step {
    bool has_name = false;
    std::string name;
    std::string attr;
    // The attribute test applies only when the value is not empty.
    std::string value;
};

// One level of the walk: the node whose children are scanned, the step
// they must match, the rest of the path, and the next child to look at.
struct frame {
    xml_node* node;
    step match;
    const char* rest;
    unsigned int next;
};

// Splits "name[attr=value]" the way strtok does with the separators
// '[', '=' and ']': runs of separators count as one, leading ones are
// skipped, and missing pieces stay empty.
step parse_step(const char* text, size_t len)
{
    step s;
    if (std::memchr(text, '[', len) == nullptr) {
        s.has_name = true;
        s.name.assign(text, len);
        return s;
    }
    std::string* pieces[] = {&s.name, &s.attr, &s.value};
    size_t i = 0;
    for (std::string* piece : pieces) {
        while (i < len && is_test_separator(text[i])) ++i;
        if (i == len) break;
        size_t start = i;
        while (i < len && !is_test_separator(text[i])) ++i;
        piece->assign(text + start, i - start);
        if (piece == &s.name) s.has_name = true;
    }
    return s;
}

// Follows the "." / "" / ".." steps at the front of `path`. True when a
// step naming children remains: `node` is then the node whose children it
// names, `path` points at it and `len` is its length. False when the walk
// selects nothing from here.
bool resolve(xml_node*& node, const char*& path, size_t& len)
{
    for (;;) {
        const char* slash = std::strchr(path, '/');
        len = slash != nullptr ? static_cast<size_t>(slash - path) : std::strlen(path);
        const char* rest = slash != nullptr ? slash + 1 : path + len;
        if (len == 0 && *path != '/') return false;
        if (len == 0 || (len == 1 && path[0] == '.')) {
            path = rest;
            continue;
        }
        if (len == 2 && path[0] == '.' && path[1] == '.') {
            node = node->parent();
            if (node == nullptr) return false;
            path = rest;
            continue;
        }
        return true;
    }
}

void push_walk(std::vector<frame>& stack, xml_node* node, const char* path)
{
    size_t len = 0;
    if (!resolve(node, path, len)) return;
    const char* rest = path[len] == '/' ? path + len + 1 : path + len;
    stack.push_back(frame{node, parse_step(path, len), rest, 0});
}

bool qualifies(xml_node* child, const step& s)
{
    if (!s.has_name || s.name != child->get_name()) return false;
    // A missing attribute reads as "", which never equals a test value.
    return s.value.empty() || s.value == child->get_attribute(s.attr.c_str());
}

}  // namespace

void xml_select(xml_node* start, const char* xpath, object_col* out, bool single)
{
    try {
        std::vector<frame> stack;
        push_walk(stack, start, xpath);
        while (!stack.empty()) {
            frame& f = stack.back();
            xml_node* child = f.node->child_at(f.next++);
            if (child == nullptr) {
                stack.pop_back();
                continue;
            }
            if (!qualifies(child, f.match)) continue;
            if (*f.rest != '\0') {
                push_walk(stack, child, f.rest);
                continue;
            }
            out->add_item(child, false);
            if (single) stack.pop_back();
        }
    } catch (const std::bad_alloc&) {
        // What was found so far stays in `out`.
    }
}

}  // namespace vek
