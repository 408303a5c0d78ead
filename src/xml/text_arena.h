// Storage for the names, texts and attribute values of parsed nodes.
//
// A parse packs each element's strings into one record inside a large
// chunk, instead of allocating them one by one. A chunk counts the nodes
// whose records it holds and is freed when the last of them is destroyed,
// so a node that outlives the rest of its document keeps only its chunk.
//
// Thread safety: text_chunk counting is safe for concurrent use (nodes are
// destroyed on any thread); a text_arena belongs to one parse, one thread.
#ifndef VEK_XML_TEXT_ARENA_H
#define VEK_XML_TEXT_ARENA_H

#include <atomic>
#include <cstddef>

namespace vek {

class text_chunk {
public:
    // New chunk with a count of 1: caller releases. Null when memory runs
    // out.
    static text_chunk* create(std::size_t size);

    void addref() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    // Frees the chunk at the last release.
    void release();
    char* data() { return reinterpret_cast<char*>(this + 1); }
    std::size_t size() const { return m_size; }

private:
    explicit text_chunk(std::size_t size) : m_refs(1), m_size(size) {}

    std::atomic<unsigned int> m_refs;
    std::size_t m_size;
};

class text_arena {
public:
    text_arena() = default;
    // Gives up the arena's hold on its current chunk.
    ~text_arena();
    text_arena(const text_arena&) = delete;
    text_arena& operator=(const text_arena&) = delete;

    // Room for `size` bytes, owned by *chunk, which gains a count for the
    // caller. Null when memory runs out.
    char* alloc(std::size_t size, text_chunk** chunk);

private:
    text_chunk* m_chunk = nullptr;
    std::size_t m_used = 0;
    // Chunks double from the first size up to the last, so a small
    // document takes little and a large one few chunks.
    std::size_t m_next_size = 1024;
};

}  // namespace vek

#endif
