// Script code, script files and the built-in script file loader.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/fs.h"
#include "script/script_engine.h"
#include "script/thread_serial.h"
#include "vek/core.h"
#include "vek/util.h"
#include "vek/util/checksum.h"

namespace vek {

namespace {

const char k_magic[] = "VEKENCF73\n";
constexpr std::size_t k_magic_len = 10;
// CRC-32 start value of the script key: files encrypted under another
// value do not read back.
constexpr unsigned int k_script_key_start = 0x56454B31;
constexpr unsigned char k_script_method = '2';

std::atomic<unsigned long long> g_serials{0};

// Decrypts an encrypted file's text in place of `text`; leaves `text` as it
// is on any failure (its evaluation then fails as a script error).
char* decrypt_script(const char* path, char* text)
{
    const char* name = std::strrchr(path, '/');
    if (name == nullptr) name = std::strrchr(path, '\\');
    if (name == nullptr) return text;
    ++name;
    i_binary* data = vek_base64_decode(text + k_magic_len);
    if (data == nullptr) return text;
    unsigned int key = vek_crc32(name, static_cast<unsigned int>(std::strlen(name) + 1), k_script_key_start);
    unsigned char key_bytes[4];
    std::memcpy(key_bytes, &key, 4);  // memory order
    i_object* svc = vek_core() != nullptr ? vek_core()->get_service("svc_encrypt") : nullptr;
    i_encryptor* enc = vek_cast_i_encryptor(svc);
    i_binary* plain =
        enc != nullptr ? enc->decrypt(data->get_data(), data->get_data_size(), key_bytes, 4, k_script_method) : nullptr;
    vek_release(svc);
    data->release();
    if (plain == nullptr) return text;
    // Zero-filled past the plaintext, so the buffer is a terminated text.
    char* result = static_cast<char*>(const_cast<void*>(plain->get_data()));
    plain->detach();
    plain->release();
    if (result == nullptr) return text;
    std::free(text);
    return result;
}

char* builtin_loader(const char* path)
{
    if (path == nullptr || *path == 0) return nullptr;
    char* text = vek_read_file(path);
    if (text == nullptr) return nullptr;
    if (std::strncmp(text, k_magic, k_magic_len) != 0) return text;
    return decrypt_script(path, text);
}

// Code compiled from text in the thread that created it.
class script_code : public object, public virtual i_script_code {
public:
    script_code()
        : m_code(nullptr),
          m_owner(static_cast<unsigned int>(vek_get_thread_id())),
          m_serial(thread_serial()),
          m_raw(false)
    {
    }
    ~script_code() override
    {
        if (m_code == nullptr) return;
        if (thread_serial() == m_serial) {
            Tcl_DecrRefCount(m_code);
        } else {
            vek_trace("script_code: leaking the code of thread %u, released in another thread", m_owner);
        }
    }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_script_code") == 0) {
            *pp_obj = static_cast<i_script_code*>(this);
            return true;
        }
        return object::get_interface(iface_name, pp_obj);
    }
    unsigned int get_thread_id() override { return m_owner; }
    bool set_text(const char* text) override
    {
        if (text == nullptr || thread_serial() != m_serial) return false;
        if (m_code != nullptr) Tcl_DecrRefCount(m_code);
        m_code = make_script_obj(text, m_raw);
        if (m_code == nullptr) return false;
        Tcl_IncrRefCount(m_code);
        return true;
    }
    Tcl_Obj* get_compiled_code() override { return thread_serial() == m_serial ? m_code : nullptr; }

private:
    Tcl_Obj* m_code;
    unsigned int m_owner;
    unsigned long long m_serial;
    bool m_raw;
};

}  // namespace

unsigned long long thread_serial()
{
    thread_local unsigned long long serial = ++g_serials;
    return serial;
}

script_file::script_file() : m_code(nullptr), m_mtime(0), m_raw(false), m_path(nullptr), m_thread(thread_serial()) {}

script_file::~script_file()
{
    if (m_code != nullptr) {
        if (thread_serial() == m_thread) {
            Tcl_DecrRefCount(m_code);
        } else {
            vek_trace("script_file: leaking the code of '%s', released in another thread",
                      m_path != nullptr ? m_path : "");
        }
    }
    std::free(m_path);
}

bool script_file::get_interface(const char* iface_name, void** pp_obj)
{
    if (std::strcmp(iface_name, "script_file") == 0) {
        *pp_obj = this;
        return true;
    }
    return object::get_interface(iface_name, pp_obj);
}

Tcl_Obj* script_file::get_compiled_code()
{
    return m_code;
}

bool script_file::load(const char* path, vek_script_file_load_function func, const void* fparam)
{
    unsigned int mtime = 0;
    if (path == nullptr || !platform::file_mtime(path, &mtime)) return false;
    if (mtime != m_mtime) {
        bool reload = m_code != nullptr;
        if (m_code != nullptr) Tcl_DecrRefCount(m_code);
        m_code = nullptr;
        char* text = func != nullptr ? func(path, fparam) : builtin_loader(path);
        if (text == nullptr) return false;
        m_mtime = mtime;
        m_thread = thread_serial();
        m_code = make_script_obj(text, m_raw);
        if (m_code == nullptr) {
            std::free(text);
            return false;
        }
        Tcl_IncrRefCount(m_code);
        if (reload) vek_trace("script_code: reloading script from file '%s'", path);
        std::free(text);
    }
    if (m_path == nullptr) m_path = strdup(path);
    return true;
}

bool script_file::is_raw()
{
    return m_raw;
}

const char* script_file::get_path()
{
    return m_path != nullptr ? m_path : "";
}

}  // namespace vek

vek::i_script_code* vek_create_script_code(const char* text)
{
    if (text == nullptr) return nullptr;
    auto* code = new (std::nothrow) vek::script_code();
    if (code == nullptr) return nullptr;
    code->addref();
    if (!code->set_text(text)) {
        code->release();
        return nullptr;
    }
    return code;
}

vek::i_script_code* vek_cast_i_script_code(vek::i_object* obj)
{
    void* p = nullptr;
    if (obj == nullptr || !obj->get_interface("i_script_code", &p)) return nullptr;
    return static_cast<vek::i_script_code*>(p);
}

vek::script_file* vek_cast_script_file(vek::i_object* obj)
{
    void* p = nullptr;
    if (obj == nullptr || !obj->get_interface("script_file", &p)) return nullptr;
    return static_cast<vek::script_file*>(p);
}
