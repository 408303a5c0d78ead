// Parses arbitrary bytes, writes the tree back in both forms, runs a few
// path selections and releases everything. Any crash, leak or sanitizer
// report is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vek/vek_core.h>

namespace {

vek::i_xml_proc* processor()
{
    static vek::i_xml_proc* proc = [] {
        vek_enable_trace(false);
        setenv("VEK_ROOT_PATH", "/tmp", 1);
        vek_initialize();
        vek::i_object* svc = vek_core()->get_service("svc_xml");
        vek::i_xml_proc* p = vek_cast_i_xml_proc(svc);
        svc->release();  // the core keeps the service alive
        return p;
    }();
    return proc;
}

void select_and_release(vek::i_xml_node* root, const char* path)
{
    vek::i_object_col* all = root->select_nodes(path);
    if (all != nullptr) all->release();
    vek::i_xml_node* one = root->select_single_node(path);
    if (one != nullptr) one->release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    vek::i_xml_node* root = processor()->parse_text(text.c_str());
    if (root == nullptr) return 0;
    std::free(root->get_xml(false));
    std::free(root->get_xml(true));
    for (const char* path : {"a", "a/b", "./a/../a", "/a[k=v]/b", "//", "..", "a[", "a[=]/"}) {
        select_and_release(root, path);
    }
    vek::i_xml_node* copy = root->create_copy(true);
    if (copy != nullptr) copy->release();
    root->release();
    return 0;
}
