// get_xml: a node and its subtree as markup. The tree is walked with an
// explicit stack, so the depth of a document never becomes the depth of the
// call stack.
#include <cstring>
#include <new>
#include <vector>

#include "xml/xml_node.h"

namespace vek {

namespace {

const char* entity_of(char c)
{
    switch (c) {
        case '"':
            return "&quot;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '\t':
            return "&#9;";
        case '\n':
            return "&#10;";
        case '\r':
            return "&#13;";
        default:
            return "&amp;";
    }
}

// The characters a parser would not give back as they are: in an attribute
// value it turns tabs and line feeds into spaces, and anywhere it turns a
// carriage return (with a line feed after it) into a line feed. Apostrophes
// pass; text keeps its tabs and line feeds.
const char text_specials[] = "\"<>&\r";
const char value_specials[] = "\"<>&\r\n\t";

void put_escaped(string& out, const char* text, const char* specials)
{
    for (;;) {
        const char* special = text + std::strcspn(text, specials);
        if (*special == '\0') break;
        out.concatn(text, static_cast<unsigned int>(special - text));
        out.concat(entity_of(*special));
        text = special + 1;
    }
    out.concat(text);
}

void put_tabs(string& out, unsigned int count, bool format)
{
    if (!format) return;
    static const char tabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
    const unsigned int chunk = sizeof(tabs) - 1;
    for (; count > chunk; count -= chunk) out.concatn(tabs, chunk);
    out.concatn(tabs, count);
}

void put_line_end(string& out, bool format)
{
    if (format) out.concatn("\n", 1);
}

// Writes the open tag with its attributes. True when the element has
// content and stays open; a leaf without text is closed with "/>".
bool open_element(string& out, xml_node* node, unsigned int depth, bool format)
{
    put_tabs(out, depth, format);
    out.concatn("<", 1);
    out.concat(node->get_name());
    node->for_each_attribute([&out](const char* name, const char* value) {
        out.concatn(" ", 1);
        out.concat(name);
        out.concatn("=\"", 2);
        put_escaped(out, value, value_specials);
        out.concatn("\"", 1);
    });
    if (node->first_child() == nullptr && *node->get_text() == '\0') {
        out.concatn("/>", 2);
        put_line_end(out, format);
        return false;
    }
    out.concatn(">", 1);
    put_line_end(out, format);
    return true;
}

// The text of an element comes after its children.
void close_element(string& out, xml_node* node, unsigned int depth, bool format)
{
    const char* text = node->get_text();
    if (*text != '\0') {
        put_tabs(out, depth + 1, format);
        put_escaped(out, text, text_specials);
        put_line_end(out, format);
    }
    put_tabs(out, depth, format);
    out.concatn("</", 2);
    out.concat(node->get_name());
    out.concatn(">", 1);
    put_line_end(out, format);
}

struct open_frame {
    xml_node* node;
    xml_node* next_child;
};

}  // namespace

char* xml_node::get_xml(bool format)
{
    string out;
    if (!out.reserve(1024)) return nullptr;
    try {
        std::vector<open_frame> open;
        if (open_element(out, this, 0, format)) open.push_back(open_frame{this, first_child()});
        while (!open.empty()) {
            unsigned int depth = static_cast<unsigned int>(open.size() - 1);
            open_frame& top = open.back();
            xml_node* child = top.next_child;
            if (child == nullptr) {
                close_element(out, top.node, depth, format);
                open.pop_back();
                continue;
            }
            top.next_child = child->next_sibling();
            if (open_element(out, child, depth + 1, format)) open.push_back(open_frame{child, child->first_child()});
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return out.detach();
}

}  // namespace vek
