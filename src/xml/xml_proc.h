// The XML processor: builds node trees with Expat and writes them back.
//
// Every node the library makes (parsing, create_node, create_copy) comes
// from the pool of the current processor: the one most recently
// constructed and not yet destroyed. vek_initialize makes it and registers
// it as "svc_xml".
//
// Thread safety: safe for concurrent use. Each parse has its own Expat
// parser and context; the pool serialises node allocation and gives each
// block of nodes its own lock.
#ifndef VEK_XML_XML_PROC_H
#define VEK_XML_XML_PROC_H

#include "vek/object.h"
#include "vek/status.h"
#include "vek/xml.h"
#include "xml/xml_node.h"

namespace vek {

class xml_proc : public object,
                 public mutex,
                 public i_named_object_impl,
                 public virtual i_xml_proc,
                 public virtual i_status_source {
public:
    // Becomes the current processor.
    xml_proc();
    // Stops being the current processor (when it still is). Nodes still in
    // use keep their blocks of the pool.
    ~xml_proc() override;

    i_xml_node* parse_text(const char* text) override;
    i_xml_node* parse_file(const char* file_path) override;
    i_xml_node* create_node(const char* name) override;
    bool write_file(i_xml_node* node, const char* file_path, bool format) override;

    // Answers "i_xml_proc", "i_named_object" and "i_status_source".
    bool get_interface(const char* iface_name, void** pp_obj) override;
    // <xml>: the nodes the pools hold and the memory they take.
    void add_status(i_xml_node* status) override;

    // New reference: caller releases. An empty node from the current
    // processor's pool; null when there is no processor or no memory.
    static xml_node* new_node();

private:
    array_object_factory<xml_node> m_pool;
};

}  // namespace vek

#endif
