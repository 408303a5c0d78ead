// XML: documents parsed into trees of nodes, simple path selection, and
// markup output.
//
// The processor (service "svc_xml") parses text or files with Expat into a
// tree of i_xml_node objects and writes trees back to files. A node has a
// name, ordered attributes, ordered child elements, a text (character data
// trimmed of surrounding blanks, with the text of mixed content joined) and
// a parent. Paths are slash-separated element names relative to the node
// they are applied to, with ".", ".." and a "name[attr=value]" test; there
// are no wildcards or other axes. Comments, processing instructions and the
// document type declaration are dropped; output escapes only " < > and &.
//
// Nodes are pooled: they come from the processor's pool and live while a
// reference to them (the caller's, a parent's child list, a returned
// collection) exists. A node keeps a plain link to its parent, so releasing
// a tree's root detaches and releases its children.
//
// Thread safety:
// - i_xml_proc: safe for concurrent use; each parse has its own parser.
// - i_xml_node: one thread at a time per tree, except that reference
//   counting and set_attribute/delete_attribute are safe for concurrent use.
#ifndef VEK_XML_H
#define VEK_XML_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/collection.h"

namespace vek {

class xml_node;
class xml_proc;

// One element. Its element name is the i_named_object name.
class VEK_API i_xml_node : public virtual i_named_object {
public:
    // Owned by the node, valid until the text changes; "" when empty.
    virtual const char* get_text() = 0;
    // False for a null text.
    virtual bool set_text(const char* text) = 0;
    // New reference: caller releases. A new collection of the attributes
    // (i_named_string items shared with the node, in document order).
    virtual i_object_col* get_attributes() = 0;
    // Owned by the node, valid while the attribute exists: the value of the
    // first attribute named exactly `name`; "" when there is none.
    virtual const char* get_attribute(const char* name) = 0;
    // Replaces the value of the first attribute of that name in place, or
    // appends a new attribute. False for null arguments or when the library
    // is not running.
    virtual bool set_attribute(const char* name, const char* value) = 0;
    // Removes the first attribute of that name; false when there is none.
    virtual bool delete_attribute(const char* name) = 0;
    // New reference: caller releases. A new collection of the child nodes
    // (shared with the node, in document order).
    virtual i_object_col* get_child_nodes() = 0;
    // Inserts `node` in front of `prev_child`, or appends it when
    // `prev_child` is null or not a child; as insert_child.
    virtual bool add_child(i_xml_node* node, i_xml_node* prev_child = nullptr) = 0;
    // Inserts `node` before position `pos` (appends for a negative or too
    // large `pos`), then takes it out of its former parent's list (the
    // first occurrence, when the former parent is this node). False for
    // null, for this node itself and for nodes not made by this library.
    virtual bool insert_child(i_xml_node* node, int pos) = 0;
    // Removes the first occurrence of `node` from the children; true even
    // when it was not a child, false for null.
    virtual bool remove_child(i_xml_node* node) = 0;
    // New reference: caller releases. Null for a root.
    virtual i_xml_node* get_parent_node() = 0;
    // Heap text: caller frees with free(). The node and its subtree as
    // markup: one line without any line feed, or with `format` one element
    // per line indented by tabs. Null when memory runs out.
    virtual char* get_xml(bool format) = 0;
    // New reference: caller releases. Every node that the path reaches, in
    // document order (a node reached twice is listed twice). Null for a null
    // path; an empty collection when nothing matches.
    virtual i_object_col* select_nodes(const char* xpath) = 0;
    // New reference: caller releases. The first node in document order that
    // the path reaches, or null.
    virtual i_xml_node* select_single_node(const char* xpath) = 0;
    // New reference: caller releases. A parentless copy with the same name,
    // text and attributes (and, with `recursive`, copies of the children).
    // Null when no processor exists.
    virtual i_xml_node* create_copy(bool recursive) = 0;

protected:
    ~i_xml_node() = default;
};

// The XML processor, registered as the service "svc_xml".
class VEK_API i_xml_proc : public virtual i_object {
public:
    // New reference: caller releases. The root element of the document, or
    // null for a null text, a text that is not well-formed, or one without
    // an element.
    virtual i_xml_node* parse_text(const char* text) = 0;
    // New reference: caller releases. As parse_text for the file's content;
    // the path is made absolute with vek_get_absolute_path. Null when the
    // file cannot be opened or read.
    virtual i_xml_node* parse_file(const char* file_path) = 0;
    // New reference: caller releases. A parentless node named `name`, or
    // null for a null name.
    virtual i_xml_node* create_node(const char* name) = 0;
    // Writes exactly node->get_xml(format) to the file, truncating it (no
    // declaration, no byte-order mark). False for null arguments, an empty
    // path, or when the file cannot be opened or written.
    virtual bool write_file(i_xml_node* node, const char* file_path, bool format) = 0;

protected:
    ~i_xml_proc() = default;
};

}  // namespace vek

// No reference added.
VEK_API vek::i_xml_node* vek_cast_i_xml_node(vek::i_object* obj);
// No reference added.
VEK_API vek::i_xml_proc* vek_cast_i_xml_proc(vek::i_object* obj);
// No reference added. The node object itself, for nodes made by this
// library.
VEK_API vek::xml_node* vek_cast_xml_node(vek::i_object* obj);
// No reference added. Asks for "xml_proc", a name the library's processor
// does not answer (it answers "i_xml_proc"), so this is null for it; a
// module's class may answer it.
VEK_API vek::xml_proc* vek_cast_xml_proc(vek::i_object* obj);

#endif
