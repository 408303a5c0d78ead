#include "xml/xml_proc.h"

#include <expat.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/status_tree.h"
#include "object/cast_impl.h"
#include "object/interface_query.h"
#include "platform/fs.h"
#include "vek/core.h"
#include "vek/util.h"
#include "xml/text_arena.h"
#include "xml/xml_encoding.h"

namespace vek {

namespace {

std::atomic<xml_proc*> g_current_proc{nullptr};

// Bytes handed to Expat per read of a file.
const size_t file_chunk_size = 0x10000;

// Where an open element's pieces begin in the parse's buffers.
struct open_element {
    size_t text_start;
    size_t head_start;
};

// One parse call's state; Expat's user data.
struct parse_context {
    XML_Parser parser;
    // The innermost open element. The root keeps its creation reference to
    // the end; every other node's creation reference went to its parent's
    // child list.
    xml_node* current;
    // A node could not be made; the parse is abandoned.
    bool failed;
    // The text of the open elements, outermost first. An element's text is
    // cut off again when it ends, so the parent's text runs on across its
    // children.
    std::string text;
    // The name and attributes of the open elements, outermost first, as
    // name \0 { attribute \0 value \0 } \0. Together with the text they
    // make the node's record when the element ends.
    std::string heads;
    std::vector<open_element> open;
    text_arena arena;
};

void abandon(parse_context* ctx)
{
    ctx->failed = true;
    XML_StopParser(ctx->parser, XML_FALSE);
}

bool is_blank(char c)
{
    return c == ' ' || c == '\n' || c == '\t';
}

void append_head(std::string& heads, const XML_Char* name, const XML_Char** atts)
{
    heads.append(name, std::strlen(name) + 1);
    for (; atts != nullptr && *atts != nullptr; ++atts) heads.append(*atts, std::strlen(*atts) + 1);
    heads.push_back('\0');
}

void XMLCALL on_start(void* user_data, const XML_Char* name, const XML_Char** atts)
{
    parse_context* ctx = static_cast<parse_context*>(user_data);
    if (ctx->failed) return;
    xml_node* node = xml_proc::new_node();
    if (node == nullptr) {
        abandon(ctx);
        return;
    }
    // From here the node is part of the tree, so a failure below gives it
    // back with the rest of the tree.
    if (ctx->current != nullptr) ctx->current->adopt_child(node);
    ctx->current = node;
    try {
        ctx->open.push_back(open_element{ctx->text.size(), ctx->heads.size()});
        append_head(ctx->heads, name, atts);
    } catch (const std::bad_alloc&) {
        abandon(ctx);
    }
}

// Packs the element's name, text and attributes into its node's record.
bool make_record(parse_context* ctx, xml_node* node, const open_element& element, size_t first, size_t end)
{
    const char* head = ctx->heads.data() + element.head_start;
    size_t name_size = std::strlen(head) + 1;
    size_t attrs_size = ctx->heads.size() - element.head_start - name_size;
    size_t text_size = end - first;
    text_chunk* chunk = nullptr;
    char* record = ctx->arena.alloc(name_size + text_size + 1 + attrs_size, &chunk);
    if (record == nullptr) return false;
    std::memcpy(record, head, name_size);
    std::memcpy(record + name_size, ctx->text.data() + first, text_size);
    record[name_size + text_size] = '\0';
    std::memcpy(record + name_size + text_size + 1, head + name_size, attrs_size);
    node->set_record(record, chunk);
    return true;
}

void XMLCALL on_end(void* user_data, const XML_Char* /*name*/)
{
    parse_context* ctx = static_cast<parse_context*>(user_data);
    xml_node* node = ctx->current;
    if (ctx->failed || node == nullptr || ctx->open.empty()) return;
    open_element element = ctx->open.back();
    ctx->open.pop_back();
    // Surrounding spaces, line feeds and tabs are cut (not carriage
    // returns); the first character is never cut from the end, a blank one
    // goes with the leading run.
    size_t start = element.text_start;
    size_t end = ctx->text.size();
    while (end > start + 1 && is_blank(ctx->text[end - 1])) --end;
    size_t first = start;
    while (first < end && is_blank(ctx->text[first])) ++first;
    if (!make_record(ctx, node, element, first, end)) {
        abandon(ctx);
        return;
    }
    ctx->text.resize(start);
    ctx->heads.resize(element.head_start);
    xml_node* parent = node->parent();
    if (parent != nullptr) ctx->current = parent;
}

void XMLCALL on_text(void* user_data, const XML_Char* data, int length)
{
    parse_context* ctx = static_cast<parse_context*>(user_data);
    if (ctx->failed || ctx->open.empty() || length <= 0) return;
    // A run of blanks while the element's text is still empty would be cut
    // at its end anyway; most such runs are the indentation between child
    // elements.
    if (ctx->text.size() == ctx->open.back().text_start) {
        int i = 0;
        while (i < length && is_blank(data[i])) ++i;
        if (i == length) return;
    }
    try {
        ctx->text.append(data, static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        abandon(ctx);
    }
}

XML_Parser new_parser(parse_context* ctx)
{
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (parser == nullptr) return nullptr;
    ctx->parser = parser;
    ctx->current = nullptr;
    ctx->failed = false;
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    XML_SetUserData(parser, ctx);
    XML_SetUnknownEncodingHandler(parser, xml_unknown_encoding, nullptr);
    return parser;
}

// Frees the parser and hands the root to the caller, or, after an error,
// gives back the root's creation reference, which releases the partial
// tree.
i_xml_node* finish(parse_context* ctx, bool parsed)
{
    XML_ParserFree(ctx->parser);
    xml_node* node = ctx->current;
    ctx->current = nullptr;
    if (node == nullptr) return nullptr;
    if (parsed && !ctx->failed) return node;
    while (node->parent() != nullptr) node = node->parent();
    node->release();
    return nullptr;
}

}  // namespace

xml_proc::xml_proc() : m_pool(100, true)
{
    set_name("xml_proc");
    g_current_proc.store(this);
}

xml_proc::~xml_proc()
{
    xml_proc* self = this;
    g_current_proc.compare_exchange_strong(self, nullptr);
}

xml_node* xml_proc::new_node()
{
    xml_proc* proc = g_current_proc.load();
    return proc != nullptr ? proc->m_pool.create(nullptr) : nullptr;
}

bool xml_proc::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_xml_proc")) return answer(pp_obj, static_cast<i_xml_proc*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    if (name_is(iface_name, "i_status_source")) return answer(pp_obj, static_cast<i_status_source*>(this));
    return object::get_interface(iface_name, pp_obj);
}

void xml_proc::add_status(i_xml_node* status)
{
    const unsigned long long nodes = xml_node::held();
    status_tree tree(this);
    auto_ptr_t<i_xml_node> xml = tree.add(status, "xml");
    status_tree::set(xml, "nodes", nodes);
    status_tree::set(xml, "node_bytes", nodes * sizeof(xml_node));
}

i_xml_node* xml_proc::parse_text(const char* text)
{
    if (text == nullptr) return nullptr;
    size_t length = std::strlen(text);
    if (length > INT_MAX) return nullptr;
    parse_context ctx;
    if (new_parser(&ctx) == nullptr) return nullptr;
    bool parsed = XML_Parse(ctx.parser, text, static_cast<int>(length), 1) != XML_STATUS_ERROR;
    return finish(&ctx, parsed);
}

i_xml_node* xml_proc::parse_file(const char* file_path)
{
    if (file_path == nullptr || *file_path == '\0') return nullptr;
    char* path = vek_get_absolute_path(file_path);
    if (path == nullptr || *path == '\0') {
        std::free(path);
        return nullptr;
    }
    parse_context ctx;
    if (new_parser(&ctx) == nullptr) {
        std::free(path);
        return nullptr;
    }
    std::FILE* file = std::fopen(path, "rb");
    std::free(path);
    if (file == nullptr) {
        XML_ParserFree(ctx.parser);
        return nullptr;
    }
    std::vector<char> chunk;
    bool parsed = true;
    try {
        chunk.resize(file_chunk_size);
    } catch (const std::bad_alloc&) {
        parsed = false;
    }
    while (parsed) {
        size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        if (std::ferror(file)) {
            parsed = false;
            break;
        }
        bool at_end = std::feof(file) != 0;
        parsed = XML_Parse(ctx.parser, chunk.data(), static_cast<int>(got), at_end) != XML_STATUS_ERROR;
        if (at_end) break;
    }
    std::fclose(file);
    return finish(&ctx, parsed);
}

i_xml_node* xml_proc::create_node(const char* name)
{
    if (name == nullptr) return nullptr;
    xml_node* node = new_node();
    if (node != nullptr && !node->set_name(name)) {
        node->release();
        return nullptr;
    }
    return node;
}

bool xml_proc::write_file(i_xml_node* node, const char* file_path, bool format)
{
    if (node == nullptr || file_path == nullptr || *file_path == '\0') return false;
    // Text mode and binary mode write the same bytes here. The old file
    // stays whole until the new one is: no crash or full disk leaves a part.
    char* markup = node->get_xml(format);
    if (markup == nullptr) return false;
    std::string error;
    bool written = platform::replace_file(file_path, markup, std::strlen(markup), &error);
    if (!written) vek_trace("xml_proc::write_file(%s): %s", file_path, error.c_str());
    std::free(markup);
    return written;
}

}  // namespace vek

VEK_DEFINE_CAST(vek::i_xml_node, i_xml_node)
VEK_DEFINE_CAST(vek::i_xml_proc, i_xml_proc)
VEK_DEFINE_CAST(vek::xml_node, xml_node)
VEK_DEFINE_CAST(vek::xml_proc, xml_proc)
