#include "vek/object/array.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "vek/core.h"

namespace vek {

namespace {

// The most pages an allocator holds: page numbers are 16-bit and 65535 is
// kept out of use.
const unsigned int max_pages = 65534;

}  // namespace

memory_allocator::memory_allocator(unsigned int default_page_size, unsigned int heap_grow)
    : m_page_count(0),
      m_pages(nullptr),
      m_last_page(nullptr),
      m_alloc_count(0),
      m_default_page_size(default_page_size),
      m_heap_grow(heap_grow)
{
}

memory_allocator::~memory_allocator()
{
    for (unsigned int i = 0; i < m_page_count; ++i) std::free(m_pages[i].data);
    std::free(m_pages);
}

unsigned int memory_allocator::get_page_count()
{
    return m_page_count;
}

unsigned int memory_allocator::get_alloc_count()
{
    return m_alloc_count;
}

unsigned int memory_allocator::get_default_page_size()
{
    return m_default_page_size;
}

unsigned int memory_allocator::get_page_size(unsigned short page)
{
    if (m_pages == nullptr || page >= m_page_count) return 0;
    return m_pages[page].size;
}

void* memory_allocator::alloc_on_heap(unsigned int& capacity, unsigned int& count, unsigned int elem_size, void*& table,
                                      unsigned int grow)
{
    mutex_locker hold(this);
    if (grow == 0) grow = m_heap_grow;
    // A growth step of 0 would hand out a place past the table's end.
    if (grow == 0) grow = 1;
    if (elem_size == 0) return nullptr;
    unsigned long long needed = static_cast<unsigned long long>(count) + 1;
    if (needed > capacity) {
        // Computed in 64 bits so a huge request is refused, not wrapped.
        unsigned long long new_capacity = static_cast<unsigned long long>(capacity) + grow;
        unsigned long long bytes = new_capacity * elem_size;
        void* grown = nullptr;
        // Counts are 32-bit, so a table beyond that is never asked for
        // honestly.
        if (new_capacity <= UINT_MAX && bytes <= UINT_MAX && needed <= new_capacity)
            grown = std::realloc(table, static_cast<size_t>(bytes));
        if (grown == nullptr) {
            vek_trace("memory_allocator::alloc_on_heap: Insufficient memory to allocate %llu bytes.", bytes);
            return nullptr;
        }
        size_t old_bytes = static_cast<size_t>(capacity) * elem_size;
        std::memset(static_cast<char*>(grown) + old_bytes, 0, static_cast<size_t>(bytes) - old_bytes);
        table = grown;
        capacity = static_cast<unsigned int>(new_capacity);
    }
    ++count;
    return static_cast<char*>(table) + static_cast<size_t>(count - 1) * elem_size;
}

char* memory_allocator::alloc_on_page(unsigned int size, unsigned short& page, unsigned int& offset)
{
    mutex_locker hold(this);
    // Pages made larger than the default for one big piece are full at once:
    // every page is measured against the default size.
    for (unsigned int i = 0; i < m_page_count; ++i) {
        page_record& rec = m_pages[i];
        if (static_cast<unsigned long long>(rec.used) + size > m_default_page_size) continue;
        page = static_cast<unsigned short>(i);
        offset = rec.used;
        rec.used += size;
        m_alloc_count += size;
        return rec.data + offset;
    }
    if (m_page_count >= max_pages) {
        vek_trace("memory_allocator::alloc_on_page: Reached maximum pages limit.");
        return nullptr;
    }
    unsigned int page_size = size > m_default_page_size ? size : m_default_page_size;
    // calloc zeroes the whole page, which covers its first default-size bytes.
    char* data = static_cast<char*>(std::calloc(page_size != 0 ? page_size : 1, 1));
    if (data == nullptr) {
        vek_trace("memory_allocator::alloc_on_page: Insufficient memory to allocate %u bytes.", m_default_page_size);
        return nullptr;
    }
    // The table grows one record at a time, so its capacity is the page count.
    unsigned int capacity = m_page_count;
    unsigned int count = m_page_count;
    void* table = m_pages;
    page_record* rec = static_cast<page_record*>(alloc_on_heap(capacity, count, sizeof(page_record), table, 1));
    if (rec == nullptr) {
        std::free(data);
        return nullptr;
    }
    m_pages = static_cast<page_record*>(table);
    m_page_count = count;
    m_last_page = rec;
    rec->data = data;
    rec->used = size;
    rec->size = page_size;
    m_alloc_count += size;
    page = static_cast<unsigned short>(m_page_count - 1);
    offset = 0;
    return data;
}

void* memory_allocator::get_ptr(unsigned short page, unsigned int offset)
{
    if (m_pages == nullptr || page >= m_page_count || offset >= m_default_page_size) return nullptr;
    return m_pages[page].data + offset;
}

}  // namespace vek
