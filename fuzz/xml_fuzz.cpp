// Parses arbitrary bytes, writes the tree back in both forms, runs path
// selections and releases everything. An input "DOCUMENT\0PATH" selects
// PATH; any other input tries a few fixed paths. A selection must list
// each node once, in document order. Any crash, leak, sanitizer report or
// abort is a finding. Some seeds declare character sets Expat does not know
// (single- and multi-byte, and one iconv does not know either), which sends
// the parse through the iconv-backed decoding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include <vek/vek_core.h>

#include "core_service.h"

namespace {

vek::i_xml_proc* processor()
{
    static vek::i_xml_proc* proc = vek_cast_i_xml_proc(core_service("svc_xml"));
    return proc;
}

// Each node of the tree under `node`, numbered in document order.
void number_nodes(vek::i_xml_node* node, std::unordered_map<vek::i_object*, size_t>& order)
{
    order.emplace(static_cast<vek::i_object*>(node), order.size());
    vek::i_object_col* children = node->get_child_nodes();
    for (unsigned int i = 0; i < children->get_count(); ++i) {
        vek::i_object* child = children->get_item_by_pos(i);
        number_nodes(vek_cast_i_xml_node(child), order);
        child->release();
    }
    children->release();
}

void select_and_check(vek::i_xml_node* root, const char* path,
                      const std::unordered_map<vek::i_object*, size_t>& order)
{
    vek::i_object_col* all = root->select_nodes(path);
    size_t next = 0;
    for (unsigned int i = 0; i < all->get_count(); ++i) {
        vek::i_object* item = all->get_item_by_pos(i);
        auto it = order.find(static_cast<vek::i_object*>(vek_cast_i_xml_node(item)));
        if (it == order.end() || it->second < next) std::abort();
        next = it->second + 1;
        item->release();
    }
    vek::i_xml_node* one = root->select_single_node(path);
    vek::i_object* first = all->get_item_by_pos(0);
    if ((one == nullptr) != (first == nullptr)) std::abort();
    if (first != nullptr && vek_cast_i_xml_node(first) != one) std::abort();
    if (first != nullptr) first->release();
    if (one != nullptr) one->release();
    all->release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    vek::i_xml_node* root = processor()->parse_text(text.c_str());
    if (root == nullptr) return 0;
    std::free(root->get_xml(false));
    std::free(root->get_xml(true));
    std::unordered_map<vek::i_object*, size_t> order;
    number_nodes(root, order);
    size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        select_and_check(root, text.c_str() + nul + 1, order);
    } else {
        for (const char* path : {"a", "a/b", "./a/../a", "/a[k=v]/b", "//", "..", "a[", "a[=]/"}) {
            select_and_check(root, path, order);
        }
    }
    vek::i_xml_node* copy = root->create_copy(true);
    if (copy != nullptr) copy->release();
    root->release();
    return 0;
}
