// A script file in an engine's cache.
//
// Script files are cached per engine and reread only when their whole-
// second modification time changes. A file that starts with "VEKENCF73\n"
// is Base64 of an encryptor ciphertext (method '2') under a key derived
// from the file's own name, so it reads back only under that name.
//
// Thread safety: script_file is one thread at a time, and its code works
// only in the thread that compiled it.
#ifndef VEK_SCRIPT_SCRIPT_FILE_H
#define VEK_SCRIPT_SCRIPT_FILE_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/script/engine.h"

namespace vek {

// Its compiled text and the modification time it was read at. Answers
// "script_file".
class VEK_API script_file : public object {
public:
    script_file();
    // Leaks the Tcl object, with a trace line, outside the thread that
    // compiled it.
    ~script_file() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

    // No reference added: owned by the file; null before the first load
    // and after a failed reread.
    virtual Tcl_Obj* get_compiled_code();
    // Reads and compiles the file unless its modification time is
    // unchanged. A failed reread leaves no code.
    virtual bool load(const char* path, vek_script_file_load_function func, const void* fparam);
    virtual bool is_raw();
    // Owned by the file: the path of the first successful load; "" before.
    virtual const char* get_path();

private:
    Tcl_Obj* m_code;
    unsigned int m_mtime;
    bool m_raw;
    char* m_path;
    unsigned long long m_thread;
};

}  // namespace vek

VEK_API vek::script_file* vek_cast_script_file(vek::i_object* obj);

#endif
