#include "xml/text_arena.h"

#include <cstdlib>
#include <new>

namespace vek {

namespace {

const std::size_t largest_chunk = 64 * 1024;

}  // namespace

text_chunk* text_chunk::create(std::size_t size)
{
    if (size > SIZE_MAX - sizeof(text_chunk)) return nullptr;
    void* block = std::malloc(sizeof(text_chunk) + size);
    return block != nullptr ? new (block) text_chunk(size) : nullptr;
}

void text_chunk::release()
{
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    this->~text_chunk();
    std::free(this);
}

text_arena::~text_arena()
{
    if (m_chunk != nullptr) m_chunk->release();
}

char* text_arena::alloc(std::size_t size, text_chunk** chunk)
{
    if (m_chunk == nullptr || m_chunk->size() - m_used < size) {
        // A record larger than a chunk gets one of its own size.
        text_chunk* next = text_chunk::create(size > m_next_size ? size : m_next_size);
        if (next == nullptr) return nullptr;
        if (m_next_size < largest_chunk) m_next_size *= 2;
        if (m_chunk != nullptr) m_chunk->release();
        m_chunk = next;
        m_used = 0;
    }
    char* room = m_chunk->data() + m_used;
    m_used += size;
    m_chunk->addref();
    *chunk = m_chunk;
    return room;
}

}  // namespace vek
