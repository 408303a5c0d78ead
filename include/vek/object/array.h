// Pooled objects and the page allocator.
//
// Small objects made in large numbers (XML nodes above all) are built in
// arrays called blocks. Every element of a block shares one counter with
// its siblings; the block is freed as a whole when that counter reaches 0.
// array_object_factory<T> hands elements out block by block and holds each
// block (one count per element) until the block is full or the factory is
// destroyed.
//
// An element may also track its own count (xml_node does: it starts at 1
// and runs personal_destruct when it reaches 0, long before the block's
// memory goes). The pooled value types leave it at 0, so only the block
// counter governs them.
//
// Thread safety:
// - array_object_impl<T>: addref/release are safe for concurrent use when
//   the block has a lock (the factory's per-block locking); without one the
//   elements of a block are used by one thread.
// - array_object_factory<T>: create is safe for concurrent use.
// - memory_allocator: alloc_on_page and alloc_on_heap are safe for
//   concurrent use; the readers take no lock.
// - array_string, array_named_string, array_binary, array_object_col: as
//   their unpooled twins.
#ifndef VEK_OBJECT_ARRAY_H
#define VEK_OBJECT_ARRAY_H

#include <new>

#include "vek/object/base.h"
#include "vek/object/binary.h"
#include "vek/object/collection.h"
#include "vek/object/string.h"
#include "vek/object/sync.h"

namespace vek {

template <class T>
class array_object_impl : public virtual i_object {
public:
    array_object_impl() : m_counter(nullptr), m_base(nullptr), m_lock(nullptr), m_own_count(0) {}
    array_object_impl(const array_object_impl&) = delete;
    array_object_impl& operator=(const array_object_impl&) = delete;
    virtual ~array_object_impl() {}

    // Records the block this element belongs to.
    virtual void construct(unsigned int* counter, T* base, mutex* lock)
    {
        m_counter = counter;
        m_base = base;
        m_lock = lock;
    }
    // Called when the factory hands the element out: adds the caller's
    // reference.
    virtual void personal_construct(void* /*param*/) { addref(); }
    // Called, without the block lock, when the element's own count reaches 0.
    virtual void personal_destruct() {}

    // Returns the block counter.
    int addref() override
    {
        mutex_locker hold(m_lock);
        ++*m_counter;
        if (m_own_count != 0) ++m_own_count;
        return static_cast<int>(*m_counter);
    }

    // Returns the block counter; the release that brings it to 0 destroys
    // the whole block (this element included). Not checked by the lock
    // analysis: the block lock is optional, which it cannot follow.
    int release() VEK_NO_THREAD_SAFETY_ANALYSIS override
    {
        mutex* lock = m_lock;
        if (lock != nullptr) lock->lock();
        if (m_own_count != 0 && --m_own_count == 0) {
            if (lock != nullptr) lock->unlock();
            personal_destruct();
            if (lock != nullptr) lock->lock();
        }
        unsigned int left = --*m_counter;
        unsigned int* counter = m_counter;
        T* base = m_base;
        if (lock != nullptr) lock->unlock();
        if (left != 0) return static_cast<int>(left);
        destroy_block(counter, base, lock);
        return 0;
    }

    // Answers no name at this level.
    bool get_interface(const char* /*iface_name*/, void** pp_obj) override
    {
        if (pp_obj != nullptr) *pp_obj = nullptr;
        return false;
    }

protected:
    unsigned int* m_counter;
    T* m_base;
    mutex* m_lock;
    // 0: the element does not track its own references.
    unsigned int m_own_count;

private:
    // Takes its arguments by value: freeing the block frees this element.
    static void destroy_block(unsigned int* counter, T* base, mutex* lock)
    {
        delete counter;
        delete lock;
        delete[] base;
    }
};

template <class T>
class array_object : public i_event_handler, public array_object_impl<T> {
public:
    array_object() {}
};

// Hands out elements of T block by block. The factory holds one count of
// every element of the open block; it gives them up when the block is full
// or the factory is destroyed, so elements still in use keep their block.
template <class T>
class array_object_factory {
public:
    // With `block_locking`, each block gets its own lock, so its elements
    // may be shared between threads.
    array_object_factory(unsigned int block_size, bool block_locking)
        : m_block(nullptr), m_next(0), m_block_size(block_size != 0 ? block_size : 1), m_block_locking(block_locking)
    {
    }
    array_object_factory(const array_object_factory&) = delete;
    array_object_factory& operator=(const array_object_factory&) = delete;

    virtual ~array_object_factory()
    {
        mutex_locker hold(&m_lock);
        close_block();
    }

    // New reference: caller releases. Null when memory runs out.
    T* create(void* param)
    {
        mutex_locker hold(&m_lock);
        if (m_block == nullptr && !open_block()) return nullptr;
        T* element = &m_block[m_next++];
        element->personal_construct(param);
        if (m_next == m_block_size) close_block();
        return element;
    }

private:
    bool open_block() VEK_REQUIRES(m_lock)
    {
        T* block = new (std::nothrow) T[m_block_size];
        unsigned int* counter = new (std::nothrow) unsigned int(m_block_size);
        mutex* lock = m_block_locking ? new (std::nothrow) mutex() : nullptr;
        if (block == nullptr || counter == nullptr || (m_block_locking && lock == nullptr)) {
            delete[] block;
            delete counter;
            delete lock;
            return false;
        }
        for (unsigned int i = 0; i < m_block_size; ++i) block[i].construct(counter, block, lock);
        m_block = block;
        m_next = 0;
        return true;
    }

    // Gives up the factory's hold on the open block. The last of these
    // releases may free the block, so it is not touched afterwards.
    void close_block() VEK_REQUIRES(m_lock)
    {
        T* block = m_block;
        m_block = nullptr;
        m_next = 0;
        if (block == nullptr) return;
        for (unsigned int i = 0; i < m_block_size; ++i) block[i].release();
    }

    T* m_block VEK_GUARDED_BY(m_lock);
    unsigned int m_next VEK_GUARDED_BY(m_lock);
    unsigned int m_block_size;
    mutex m_lock;
    bool m_block_locking;
};

// Pooled twin of string. Answers "i_string".
class VEK_API array_string : public array_object<array_string>, public i_string_impl {
public:
    array_string();
    explicit array_string(const char* val);

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

// Pooled twin of named_string. Answers "i_named_string", "i_named_object",
// "i_string".
class VEK_API array_named_string : public array_object<array_named_string>,
                                   public i_string_impl,
                                   public i_named_object_impl,
                                   public virtual i_named_string {
public:
    array_named_string();
    array_named_string(const char* name, const char* val);

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

// Pooled twin of binary. Answers "i_binary".
class VEK_API array_binary : public array_object<array_binary>, public i_binary_impl {
public:
    array_binary();
    // Copies the bytes, or with `assign` takes the block over.
    array_binary(const void* data, unsigned int size, bool assign);

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

// Pooled twin of object_col. Answers "i_object_col".
class VEK_API array_object_col : public array_object<array_object_col>, public object_col_impl {
public:
    array_object_col();

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

// Hands out pieces of large zeroed pages; nothing is freed before the
// allocator itself.
class VEK_API memory_allocator : public mutex {
public:
    explicit memory_allocator(unsigned int default_page_size = 65536, unsigned int heap_grow = 1000);
    memory_allocator(const memory_allocator&) = delete;
    memory_allocator& operator=(const memory_allocator&) = delete;
    // Frees every page and the page table.
    virtual ~memory_allocator();

    virtual unsigned int get_page_count();
    // Bytes handed out over all pages.
    virtual unsigned int get_alloc_count();
    virtual unsigned int get_default_page_size();
    // 0 for a page that does not exist.
    virtual unsigned int get_page_size(unsigned short page);
    // Grows a table of `elem_size` elements by `grow` places (0: the heap
    // growth step) when it is full, and returns the address of a new last
    // element. Null (with a trace line) when memory runs out.
    virtual void* alloc_on_heap(unsigned int& capacity, unsigned int& count, unsigned int elem_size, void*& table,
                                unsigned int grow);
    // Owned by the allocator, valid until it is destroyed: `size` bytes
    // inside a page, reported as page number and offset. Null on failure.
    virtual char* alloc_on_page(unsigned int size, unsigned short& page, unsigned int& offset);
    // Null when the page does not exist or the offset is not below the
    // default page size.
    virtual void* get_ptr(unsigned short page, unsigned int offset);

private:
    struct page_record {
        char* data;
        unsigned int used;
        unsigned int size;
    };

    unsigned int m_page_count;
    page_record* m_pages;
    page_record* m_last_page;
    unsigned int m_alloc_count;
    unsigned int m_default_page_size;
    unsigned int m_heap_grow;
};

}  // namespace vek

#endif
