#include "vek/object/string.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "object/interface_query.h"

namespace vek {

namespace {

// Assignment never allocates less than this.
const unsigned int min_buf_size = 256;

// Copies `count` bytes the way strncpy does (stopping at a zero byte of
// `src` and zero-filling the rest), but safe when `src` overlaps `dst`.
void copy_padded(char* dst, const char* src, unsigned int count)
{
    size_t n = strnlen(src, count);
    std::memmove(dst, src, n);
    std::memset(dst + n, 0, count - n);
}

}  // namespace

i_string_impl::i_string_impl() : m_buffer(nullptr), m_capacity(0), m_length(0) {}

i_string_impl::~i_string_impl()
{
    std::free(m_buffer);
}

void i_string_impl::assign_buffer(char* buf, unsigned int buf_size)
{
    if (buf != m_buffer) std::free(m_buffer);
    m_buffer = buf;
    m_capacity = buf != nullptr ? buf_size : 0;
    m_length = buf != nullptr ? static_cast<unsigned int>(std::strlen(buf)) : 0;
}

unsigned int i_string_impl::get_max_buf_size()
{
    return m_capacity;
}

const char* i_string_impl::get_value()
{
    return m_buffer != nullptr ? m_buffer : "";
}

bool i_string_impl::set_value(const char* val)
{
    if (val == nullptr) {
        if (m_buffer != nullptr) m_buffer[0] = '\0';
        m_length = 0;
        return true;
    }
    size_t n = std::strlen(val);
    if (m_buffer != nullptr && n < m_capacity) {
        // `val` may be the buffer itself or a tail of it.
        if (val != m_buffer) std::memmove(m_buffer, val, n + 1);
        m_length = static_cast<unsigned int>(n);
        return true;
    }
    if (n == 0) {
        m_length = 0;
        return true;
    }
    if (n >= UINT_MAX) return false;
    unsigned int size = n + 1 < min_buf_size ? min_buf_size : static_cast<unsigned int>(n + 1);
    // `val` cannot lie inside the buffer here: it is longer than the buffer.
    char* buf = static_cast<char*>(std::realloc(m_buffer, size));
    if (buf == nullptr) return false;
    std::memcpy(buf, val, n + 1);
    m_buffer = buf;
    m_capacity = size;
    m_length = static_cast<unsigned int>(n);
    return true;
}

void i_string_impl::concat(const char* val)
{
    if (val == nullptr) return;
    size_t n = std::strlen(val);
    if (n >= UINT_MAX) return;
    concatn(val, static_cast<unsigned int>(n));
}

void i_string_impl::concatn(const char* val, unsigned int count)
{
    if (val == nullptr || count == 0 || count == UINT_MAX) return;
    if (m_buffer == nullptr) {
        unsigned int size = count >= min_buf_size ? count + 1 : min_buf_size;
        char* buf = static_cast<char*>(std::malloc(size));
        if (buf == nullptr) return;
        copy_padded(buf, val, count);
        buf[count] = '\0';
        m_buffer = buf;
        m_capacity = size;
        m_length = count;
        return;
    }
    unsigned long long needed = 1ULL + m_length + count;
    if (needed >= m_capacity) {
        unsigned long long size = m_capacity;
        while (needed >= size) size *= 2;
        if (size > UINT_MAX) return;
        // Appending the string's own text: find it again after realloc.
        bool own = val >= m_buffer && val <= m_buffer + m_length;
        size_t offset = own ? static_cast<size_t>(val - m_buffer) : 0;
        char* buf = static_cast<char*>(std::realloc(m_buffer, size));
        if (buf == nullptr) return;
        m_buffer = buf;
        m_capacity = static_cast<unsigned int>(size);
        if (own) val = m_buffer + offset;
    }
    copy_padded(m_buffer + m_length, val, count);
    m_length += count;
    m_buffer[m_length] = '\0';
}

char* i_string_impl::detach()
{
    char* buf = m_buffer;
    m_buffer = nullptr;
    m_capacity = 0;
    m_length = 0;
    return buf;
}

void i_string_impl::assign(char* val)
{
    if (val == nullptr) {
        assign_buffer(nullptr, 0);
        return;
    }
    size_t n = std::strlen(val);
    assign_buffer(val, n < UINT_MAX ? static_cast<unsigned int>(n + 1) : UINT_MAX);
}

bool i_string_impl::reserve(unsigned int size)
{
    if (size == UINT_MAX) return false;
    if (m_capacity > size + 1) return true;
    if (m_buffer == nullptr) {
        char* buf = static_cast<char*>(std::malloc(size + 1));
        if (buf == nullptr) return false;
        buf[0] = '\0';
        m_buffer = buf;
        m_length = 0;
    } else {
        char* buf = static_cast<char*>(std::realloc(m_buffer, size + 1));
        if (buf == nullptr) return false;
        m_buffer = buf;
    }
    m_capacity = size + 1;
    return true;
}

string::string() {}

string::string(const char* val)
{
    set_value(val);
}

bool string::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_string")) return answer(pp_obj, static_cast<i_string*>(this));
    return object::get_interface(iface_name, pp_obj);
}

named_string::named_string() {}

named_string::named_string(const char* name, const char* val) : string(val)
{
    set_name(name);
}

bool named_string::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_named_string")) return answer(pp_obj, static_cast<i_named_string*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    return string::get_interface(iface_name, pp_obj);
}

}  // namespace vek

vek::i_string* vek_create_string(const char* val)
{
    vek::string* s = new (std::nothrow) vek::string(val);
    if (s == nullptr) return nullptr;
    s->addref();
    return s;
}

vek::i_named_string* vek_create_named_string(const char* name, const char* val)
{
    vek::named_string* s = new (std::nothrow) vek::named_string(name, val);
    if (s == nullptr) return nullptr;
    s->addref();
    return s;
}
