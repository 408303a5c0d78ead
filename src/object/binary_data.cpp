#include "vek/object/binary.h"

#include <cstddef>
#include <cstdlib>

#include "object/cast_impl.h"
#include "object/interface_query.h"
#include "vek/core.h"

namespace vek {

namespace {

const unsigned int k_header_size = 6;
// Room added beyond what a growing buffer needs at once.
const unsigned int k_spare = 1024;
// Sizes and offsets are 32-bit; growth is computed in 64 bits and anything
// past this is refused rather than wrapped.
const unsigned long long k_max_size = 0xFFFFFFFFull;

void put_header(unsigned char* h, unsigned short type, unsigned int length)
{
    h[0] = static_cast<unsigned char>(type >> 8);
    h[1] = static_cast<unsigned char>(type);
    h[2] = static_cast<unsigned char>(length >> 24);
    h[3] = static_cast<unsigned char>(length >> 16);
    h[4] = static_cast<unsigned char>(length >> 8);
    h[5] = static_cast<unsigned char>(length);
}

unsigned short type_of(const unsigned char* h)
{
    return static_cast<unsigned short>((h[0] << 8) | h[1]);
}

unsigned int length_of(const unsigned char* h)
{
    return (static_cast<unsigned int>(h[2]) << 24) | (static_cast<unsigned int>(h[3]) << 16) |
           (static_cast<unsigned int>(h[4]) << 8) | h[5];
}

// The capacity to grow to when `old` bytes cannot take `incr` more.
unsigned long long grown_capacity(unsigned long long old, unsigned long long incr, unsigned long long needed)
{
    unsigned long long capacity = incr >= old ? old + incr + k_spare : old * 2;
    if (capacity < needed) capacity = old + incr + k_spare;
    // Doubling may pass 32 bits while the stream itself still fits.
    if (capacity > k_max_size && needed <= k_max_size) capacity = k_max_size;
    return capacity;
}

}  // namespace

binary_data_writer::binary_data_writer(i_binary_data_writer* parent, unsigned short composite_type,
                                       unsigned int initial_size)
    : m_buffer(nullptr),
      m_current_block(nullptr),
      m_used_size(0),
      m_capacity(0),
      m_parent(parent),
      m_composite_type(composite_type)
{
    if (initial_size == 0 || parent != nullptr) return;
    // The prefix stays reserved even when the buffer cannot be had now, so
    // the first block, allocated later, still lands after it.
    m_used_size = initial_size;
    unsigned long long capacity = static_cast<unsigned long long>(initial_size) + k_spare;
    if (!grow_to(capacity))
        vek_trace("binary_data_writer::binary_data_writer: error allocating memory block of size %llu", capacity);
}

binary_data_writer::~binary_data_writer()
{
    if (m_parent == nullptr) std::free(m_buffer);
}

void binary_data_writer::detach()
{
    m_buffer = nullptr;
    m_current_block = nullptr;
    m_used_size = 0;
    m_capacity = 0;
}

bool binary_data_writer::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_binary_data_writer")) return answer(pp_obj, static_cast<i_binary_data_writer*>(this));
    return object::get_interface(iface_name, pp_obj);
}

bool binary_data_writer::grow_to(unsigned long long capacity)
{
    if (capacity > k_max_size) return false;
    bool has_block = m_current_block != nullptr;
    std::size_t current = has_block ? m_current_block - m_buffer : 0;
    void* grown = std::realloc(m_buffer, static_cast<std::size_t>(capacity));
    if (grown == nullptr) return false;
    m_buffer = static_cast<unsigned char*>(grown);
    if (has_block) m_current_block = m_buffer + current;
    m_capacity = static_cast<unsigned int>(capacity);
    return true;
}

void* binary_data_writer::allocate_block(unsigned short type, unsigned int size)
{
    return m_parent != nullptr ? allocate_in_parent(type, size) : allocate_own(type, size);
}

void* binary_data_writer::allocate_own(unsigned short type, unsigned int size)
{
    unsigned long long needed = static_cast<unsigned long long>(m_used_size) + size + k_header_size;
    if (m_buffer == nullptr || m_capacity < needed) {
        unsigned long long capacity = m_buffer == nullptr ? needed + k_spare : grown_capacity(m_capacity, size, needed);
        if (!grow_to(capacity)) {
            vek_trace("binary_data_writer::allocate_block: error reallocating memory of size %llu", capacity);
            return nullptr;
        }
    }
    unsigned char* block = m_buffer + m_used_size;
    put_header(block, type, size);
    m_current_block = block;
    m_used_size = static_cast<unsigned int>(needed);
    return block + k_header_size;
}

void* binary_data_writer::allocate_in_parent(unsigned short type, unsigned int size)
{
    unsigned long long needed = static_cast<unsigned long long>(m_used_size) + size + k_header_size;
    if (needed > k_max_size) return nullptr;
    // The first block opens this writer's composite block in the parent;
    // later ones lengthen it. Either way the parent hands back that
    // block's payload, which is this writer's buffer, wherever it now is.
    void* payload = m_buffer == nullptr ? m_parent->allocate_block(m_composite_type, size + k_header_size)
                                        : m_parent->enlarge_block(size + k_header_size);
    if (payload == nullptr) return nullptr;
    m_buffer = static_cast<unsigned char*>(payload);
    unsigned char* block = m_buffer + m_used_size;
    put_header(block, type, size);
    m_current_block = block;
    m_used_size = static_cast<unsigned int>(needed);
    return block + k_header_size;
}

void* binary_data_writer::enlarge_block(unsigned int incr_size)
{
    if (m_buffer == nullptr || m_current_block == nullptr) return nullptr;
    unsigned long long needed = static_cast<unsigned long long>(m_used_size) + incr_size;
    if (m_parent != nullptr) {
        if (needed > k_max_size) return nullptr;
        std::size_t current = m_current_block - m_buffer;
        void* payload = m_parent->enlarge_block(incr_size);
        if (payload == nullptr) return nullptr;
        m_buffer = static_cast<unsigned char*>(payload);
        m_current_block = m_buffer + current;
    } else if (m_capacity < needed && !grow_to(grown_capacity(m_capacity, incr_size, needed))) {
        return nullptr;
    }
    put_header(m_current_block, type_of(m_current_block), length_of(m_current_block) + incr_size);
    m_used_size = static_cast<unsigned int>(needed);
    return m_current_block + k_header_size;
}

const void* binary_data_writer::get_data()
{
    return m_buffer;
}

unsigned int binary_data_writer::get_data_size()
{
    return m_used_size;
}

bool binary_data_writer::set_parent(i_binary_data_writer* parent, unsigned short composite_type)
{
    // A reserved prefix belongs to a writer of its own buffer.
    if (m_buffer != nullptr || m_used_size != 0) return false;
    m_parent = parent;
    m_composite_type = composite_type;
    return true;
}

binary_data_reader::binary_data_reader(const void* data, unsigned int size)
    : m_data(data), m_current_block(nullptr), m_data_size(size), m_first_step(false)
{
    reset();
}

bool binary_data_reader::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_binary_data_reader")) return answer(pp_obj, static_cast<i_binary_data_reader*>(this));
    return object::get_interface(iface_name, pp_obj);
}

void binary_data_reader::reset()
{
    m_current_block = nullptr;
    m_first_step = false;
    if (m_data != nullptr && m_data_size >= k_header_size) {
        m_current_block = static_cast<const unsigned char*>(m_data);
        m_first_step = true;
    }
}

bool binary_data_reader::next()
{
    if (m_current_block == nullptr) return false;
    const unsigned char* start = static_cast<const unsigned char*>(m_data);
    // 64-bit offsets: a length near 4 GiB must not wrap back into the data.
    unsigned long long offset = static_cast<unsigned long long>(m_current_block - start);
    if (m_first_step) {
        m_first_step = false;
    } else {
        offset += k_header_size + static_cast<unsigned long long>(length_of(m_current_block));
    }
    if (offset + k_header_size > m_data_size || offset + k_header_size + length_of(start + offset) > m_data_size) {
        m_current_block = nullptr;
        return false;
    }
    m_current_block = start + offset;
    return true;
}

// Before the first next() the reader stands before the first block, whose
// header has not been checked yet: nothing is reported.
const void* binary_data_reader::get_block_ptr()
{
    return m_current_block != nullptr && !m_first_step ? m_current_block + k_header_size : nullptr;
}

unsigned int binary_data_reader::get_block_size()
{
    return m_current_block != nullptr && !m_first_step ? length_of(m_current_block) : 0;
}

unsigned short binary_data_reader::get_block_type()
{
    return m_current_block != nullptr && !m_first_step ? type_of(m_current_block) : 0;
}

}  // namespace vek

VEK_DEFINE_CAST(vek::i_binary_data_writer, i_binary_data_writer)
VEK_DEFINE_CAST(vek::i_binary_data_reader, i_binary_data_reader)
