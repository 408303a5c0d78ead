// The path walk: slash-separated steps, each naming children (optionally
// with one "[attr=value]" test), or "." / "" (stay) and ".." (the parent).
//
// The walk is depth-first with an explicit stack, so a long path cannot
// exhaust the call stack. Each step's result is a set: a node that a ".."
// step brings the walk back to is expanded once per step, never again. That
// keeps the work linear in the tree's size for each step (a path like
// "b/../b/../b" would otherwise double its result at every "..") and the
// results unique. Depth-first order with that rule is still document order:
// the nodes at one step are first reached in document order, so their
// children are, and so are their parents (nodes at one depth in document
// order have their parents in document order).
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "xml/xml_node.h"

namespace vek {

namespace {

bool is_test_separator(char c)
{
    return c == '[' || c == '=' || c == ']';
}

// One step of a path: up to the parent, or down to the children that match.
struct step {
    bool up = false;
    bool has_name = false;
    std::string name;
    std::string attr;
    // The attribute test applies only when the value is not empty.
    std::string value;
};

// One level of the walk: the step `index` that the children of a node are
// matched against, and the next of those children to look at.
struct frame {
    size_t index;
    xml_node* next;
};

// Splits "name[attr=value]" the way strtok does with the separators
// '[', '=' and ']': runs of separators count as one, leading ones are
// skipped, and missing pieces stay empty.
step parse_child_step(const char* text, size_t len)
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

// The steps of `path`, with "." and "" dropped. Empty when the path selects
// nothing at all: its last step must name children, since a path that ends
// in "", "." or ".." has no step left to match.
std::vector<step> parse_path(const char* path)
{
    std::vector<step> steps;
    for (;;) {
        const char* slash = std::strchr(path, '/');
        size_t len = slash != nullptr ? static_cast<size_t>(slash - path) : std::strlen(path);
        bool last = slash == nullptr;
        if (len == 2 && path[0] == '.' && path[1] == '.') {
            steps.emplace_back();
            steps.back().up = true;
        } else if (len != 0 && !(len == 1 && path[0] == '.')) {
            steps.push_back(parse_child_step(path, len));
        } else if (last) {
            steps.clear();
        }
        if (last) break;
        path = slash + 1;
    }
    if (!steps.empty() && steps.back().up) steps.clear();
    return steps;
}

bool qualifies(xml_node* child, const step& s)
{
    if (!s.has_name || s.name != child->get_name()) return false;
    // A missing attribute reads as "", which never equals a test value.
    return s.value.empty() || s.value == child->get_attribute(s.attr.c_str());
}

class path_walk {
public:
    path_walk(const char* xpath, object_col* out, bool single)
        : m_steps(parse_path(xpath)), m_out(out), m_single(single)
    {
        // Before the first ".." every node is reached by one route only.
        m_first_up = m_steps.size();
        for (size_t i = 0; i < m_steps.size(); ++i) {
            if (m_steps[i].up) {
                m_first_up = i;
                break;
            }
        }
        if (m_first_up < m_steps.size()) m_seen.resize(m_steps.size() + 1);
    }

    void run(xml_node* start)
    {
        if (m_steps.empty()) return;
        enter(start, 0);
        while (!m_stack.empty() && !m_done) {
            frame& f = m_stack.back();
            xml_node* child = f.next;
            if (child == nullptr) {
                m_stack.pop_back();
                continue;
            }
            f.next = child->next_sibling();
            if (qualifies(child, m_steps[f.index])) enter(child, f.index + 1);
        }
    }

private:
    // `node` is where the walk stands after `index` steps.
    void enter(xml_node* node, size_t index)
    {
        while (index < m_steps.size() && m_steps[index].up) {
            node = node->parent();
            if (node == nullptr) return;
            ++index;
        }
        if (!first_visit(node, index)) return;
        if (index < m_steps.size()) {
            m_stack.push_back(frame{index, node->first_child()});
            return;
        }
        m_out->add_item(node, false);
        m_done = m_single;
    }

    bool first_visit(xml_node* node, size_t index)
    {
        if (index <= m_first_up) return true;
        return m_seen[index].insert(node).second;
    }

    std::vector<step> m_steps;
    object_col* m_out;
    bool m_single;
    bool m_done = false;
    size_t m_first_up = 0;
    // The nodes already reached after each step, kept from the first ".." on.
    std::vector<std::unordered_set<xml_node*>> m_seen;
    std::vector<frame> m_stack;
};

}  // namespace

void xml_select(xml_node* start, const char* xpath, object_col* out, bool single)
{
    try {
        path_walk(xpath, out, single).run(start);
    } catch (const std::bad_alloc&) {
        // What was found so far stays in `out`.
    }
}

}  // namespace vek
