// The three stream implementation classes and the transport hooks' defaults.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/thread.h"
#include "vek/core.h"
#include "vek/events.h"
#include "vek/object/binary.h"
#include "vek/streams.h"

namespace vek {
namespace {

const int k_max_buffered = 0x400000;  // reading stops above 4 MiB
const unsigned int k_chunk = 16384;
const int k_min_block = 4096;

}  // namespace

stream_base::~stream_base() = default;

unsigned int stream_base::read_impl(char*, unsigned int)
{
    return 0;
}

int stream_base::write_impl(const char*, unsigned int)
{
    return 0;
}

void stream_base::do_bg_reading() {}

void stream_base::do_bg_writeing() {}

// i_stream_impl ------------------------------------------------------------

i_stream_impl::i_stream_impl()
    : m_lock_owner(0), m_lock_expiry(0), m_lock_count(0), m_active(true), m_start_time(vek_get_curr_time())
{
    m_id = vek_get_next_id();
}

i_stream_impl::~i_stream_impl() = default;

bool i_stream_impl::lock(unsigned int to)
{
    unsigned int me = static_cast<unsigned int>(vek_get_thread_id());
    mutex_locker guard(&m_lock_guard);
    while (m_lock_owner != me && m_lock_owner != 0 && vek_get_curr_time() < m_lock_expiry) {
        m_lock_guard.unlock();
        platform::sleep_ms(0);
        m_lock_guard.lock();
    }
    unsigned int now = vek_get_curr_time();
    if (now >= m_lock_expiry) m_lock_count = 0;
    if (++m_lock_count == 1) {
        m_lock_owner = me;
        m_lock_expiry = now + to;
    } else if (now + to > m_lock_expiry) {
        m_lock_expiry = now + to;
    }
    return true;
}

void i_stream_impl::unlock()
{
    mutex_locker guard(&m_lock_guard);
    if (m_lock_count > 0) --m_lock_count;
    if (m_lock_count == 0) {
        m_lock_owner = 0;
        m_lock_expiry = 0;
    }
}

bool i_stream_impl::bg_task()
{
    if (m_active) {
        do_bg_reading();
        do_bg_writeing();
    }
    return true;
}

unsigned int i_stream_impl::get_start_time()
{
    return m_start_time;
}

bool i_stream_impl::get_interface(const char* iface_name, void** pp_obj)
{
    if (std::strcmp(iface_name, "i_stream") == 0) {
        *pp_obj = static_cast<i_stream*>(this);
        return true;
    }
    if (std::strcmp(iface_name, "i_typed_object") == 0) {
        *pp_obj = static_cast<i_typed_object*>(this);
        return true;
    }
    return object::get_interface(iface_name, pp_obj);
}

void i_stream_impl::start_io()
{
    vek_register_stream(this);
}

// i_input_stream_impl ------------------------------------------------------

i_input_stream_impl::i_input_stream_impl()
    : m_in_block(nullptr),
      m_in_capacity(0),
      m_in_read_pos(nullptr),
      m_in_data_size(0),
      m_in_timeout(1),
      m_first_unnotified(0),
      m_last_comm_time(vek_get_curr_time())
{
}

i_input_stream_impl::~i_input_stream_impl()
{
    std::free(m_in_block);
}

unsigned int i_input_stream_impl::get_last_comm_time()
{
    return m_last_comm_time;
}

unsigned int i_input_stream_impl::get_in_buffer_size()
{
    return static_cast<unsigned int>(m_in_data_size);
}

char* i_input_stream_impl::get_text(const char* delim, bool rem)
{
    if (delim == nullptr) return nullptr;
    mutex_locker guard(&m_in_guard);
    if (m_in_block == nullptr || m_in_data_size == 0) return nullptr;
    size_t len = static_cast<size_t>(m_in_data_size);
    size_t dlen = std::strlen(delim);
    if (dlen > 0) {
        if (dlen > len) return nullptr;
        const void* hit = memmem(m_in_read_pos, len, delim, dlen);
        if (hit == nullptr) return nullptr;
        len = static_cast<size_t>(static_cast<const char*>(hit) - m_in_read_pos) + dlen;
    }
    char* text = static_cast<char*>(std::malloc(len + 1));
    if (text == nullptr) return nullptr;
    read_in_buf(text, static_cast<unsigned int>(len), rem);
    text[len] = '\0';
    return text;
}

unsigned char i_input_stream_impl::get_byte(bool rem)
{
    unsigned char b = 0;
    mutex_locker guard(&m_in_guard);
    if (m_in_data_size == 0) return 0;
    read_in_buf(&b, 1, rem);
    return b;
}

i_binary* i_input_stream_impl::get_binary(unsigned int max_size, bool rem)
{
    mutex_locker guard(&m_in_guard);
    unsigned int n = static_cast<unsigned int>(m_in_data_size);
    if (max_size != 0 && max_size < n) n = max_size;
    binary* b = nullptr;
    if (n == 0) {
        b = new (std::nothrow) binary();
    } else {
        void* block = std::malloc(n);
        if (block == nullptr) return nullptr;
        if (read_in_buf(block, n, rem)) b = new (std::nothrow) binary(block, n, true);
        if (b == nullptr) std::free(block);
    }
    if (b != nullptr) b->addref();
    return b;
}

bool i_input_stream_impl::set_in_buffer_timeout(int timeout)
{
    m_in_timeout = timeout;
    return true;
}

bool i_input_stream_impl::remove_in_buffer_data(unsigned int data_size)
{
    return read_in_buf(nullptr, data_size, true);
}

bool i_input_stream_impl::read_in_buf(void* dst, unsigned int size, bool remove)
{
    if (size == 0) return true;
    mutex_locker guard(&m_in_guard);
    if (m_in_block == nullptr) return false;
    unsigned int k = size < static_cast<unsigned int>(m_in_data_size) ? size : m_in_data_size;
    if (dst != nullptr) std::memcpy(dst, m_in_read_pos, k);
    if (remove) {
        m_in_read_pos += k;
        m_in_data_size -= static_cast<int>(k);
    }
    return true;
}

void i_input_stream_impl::fire_new_data_event()
{
    i_core* c = vek_core();
    if (c == nullptr) return;
    i_object* svc = c->get_service("svc_event");
    i_event_proc* proc = vek_cast_i_event_proc(svc);
    if (proc == nullptr) {
        vek_release(svc);
        return;
    }
    static const unsigned int type = proc->get_event_type("VEK_EVT_STREAM_DATA_AVAIBLE");
    event* e = new (std::nothrow) event(type, get_id(), static_cast<i_input_stream*>(this));
    if (e != nullptr) {
        e->addref();
        proc->fire_event(e, false);
        e->release();
    }
    svc->release();
}

void i_input_stream_impl::do_bg_reading()
{
    mutex_locker guard(&m_in_guard);
    if (m_in_data_size > k_max_buffered) return;
    if (m_in_block != nullptr && m_in_read_pos != m_in_block) {
        std::memmove(m_in_block, m_in_read_pos, static_cast<size_t>(m_in_data_size));
        m_in_read_pos = m_in_block;
    }
    char chunk[k_chunk];
    for (unsigned int c; (c = read_impl(chunk, k_chunk)) != 0;) {
        unsigned int now = vek_get_curr_time();
        if (m_first_unnotified == 0) m_first_unnotified = now;
        m_last_comm_time = now;
        int n = static_cast<int>(c);
        if (m_in_block == nullptr) {
            int size = n > k_min_block ? n : k_min_block;
            m_in_block = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
            if (m_in_block == nullptr) return;
            m_in_capacity = size;
            m_in_read_pos = m_in_block;
        } else if (m_in_capacity - m_in_data_size < n) {
            int size = m_in_data_size + n + k_min_block;
            char* grown = static_cast<char*>(std::realloc(m_in_block, static_cast<size_t>(size)));
            if (grown == nullptr) return;
            m_in_block = grown;
            m_in_capacity = size;
            m_in_read_pos = m_in_block;
        }
        std::memcpy(m_in_read_pos + m_in_data_size, chunk, c);
        m_in_data_size += n;
        if (m_in_data_size > k_max_buffered) break;
    }
    if (m_in_block != nullptr && m_in_capacity - m_in_data_size >= k_min_block + 1 && m_in_data_size < k_min_block) {
        char* shrunk = static_cast<char*>(std::realloc(m_in_block, k_min_block));
        if (shrunk != nullptr) {
            m_in_block = shrunk;
            m_in_read_pos = shrunk;
            m_in_capacity = k_min_block;
        }
    }
    unsigned int timeout = static_cast<unsigned int>(m_in_timeout);
    if (timeout != 0xFFFFFFFFu && m_first_unnotified != 0 && m_first_unnotified + timeout <= vek_get_curr_time()) {
        m_first_unnotified = 0;
        fire_new_data_event();
    }
}

// i_output_stream_impl -----------------------------------------------------

i_output_stream_impl::i_output_stream_impl()
    : m_out_block(nullptr), m_out_capacity(0), m_out_used(0), m_out_timeout(0), m_first_unflushed(0)
{
}

i_output_stream_impl::~i_output_stream_impl()
{
    std::free(m_out_block);
}

bool i_output_stream_impl::put_text(const char* data)
{
    if (data == nullptr) return false;
    return write_out_buf(data, static_cast<unsigned int>(std::strlen(data)));
}

bool i_output_stream_impl::put_byte(unsigned char data)
{
    return write_out_buf(&data, 1);
}

bool i_output_stream_impl::put_binary(const void* data, unsigned int data_size)
{
    return write_out_buf(data, data_size);
}

bool i_output_stream_impl::set_out_buffer_timeout(unsigned int timeout)
{
    m_out_timeout = timeout;
    return true;
}

bool i_output_stream_impl::write_out_buf(const void* data, unsigned int size)
{
    if (data == nullptr) return false;
    if (size == 0) return true;
    mutex_locker guard(&m_out_guard);
    if (m_out_timeout == 0) return write_impl(static_cast<const char*>(data), size) == static_cast<int>(size);
    size_t need = static_cast<size_t>(m_out_used) + size;
    if (need > 0x7FFFFFFF) return false;
    if (m_out_block == nullptr) {
        size_t cap = need > static_cast<size_t>(k_min_block) ? need : k_min_block;
        m_out_block = static_cast<char*>(std::malloc(cap));
        if (m_out_block == nullptr) return false;
        m_out_capacity = static_cast<int>(cap);
    } else if (need > static_cast<size_t>(m_out_capacity)) {
        // Doubling keeps many small buffered writes linear overall.
        size_t cap = static_cast<size_t>(m_out_capacity) * 2;
        if (cap < need || cap > 0x7FFFFFFF) cap = need;
        char* grown = static_cast<char*>(std::realloc(m_out_block, cap));
        if (grown == nullptr) return false;
        m_out_block = grown;
        m_out_capacity = static_cast<int>(cap);
    }
    std::memcpy(m_out_block + m_out_used, data, size);
    m_out_used += static_cast<int>(size);
    if (m_first_unflushed == 0) m_first_unflushed = vek_get_curr_time();
    return true;
}

void i_output_stream_impl::do_bg_writeing()
{
    mutex_locker guard(&m_out_guard);
    if (m_first_unflushed != 0 && m_first_unflushed + m_out_timeout <= vek_get_curr_time()) {
        m_first_unflushed = 0;
        flush_out_buffer();
    }
}

void i_output_stream_impl::flush_out_buffer()
{
    mutex_locker guard(&m_out_guard);
    while (m_out_used != 0 && m_out_block != nullptr) {
        int n = write_impl(m_out_block, static_cast<unsigned int>(m_out_used));
        if (n < 0) return;
        if (n == 0) break;
        if (n > m_out_used) n = m_out_used;
        m_out_used -= n;
        std::memmove(m_out_block, m_out_block + n, static_cast<size_t>(m_out_used));
    }
    if (m_out_used == 0) m_first_unflushed = 0;
    if (m_out_block != nullptr && m_out_used <= k_min_block && m_out_capacity > k_min_block) {
        char* shrunk = static_cast<char*>(std::realloc(m_out_block, k_min_block));
        if (shrunk != nullptr) {
            m_out_block = shrunk;
            m_out_capacity = k_min_block;
        }
    }
}

}  // namespace vek
