// Binary buffers: reference-counted byte blocks on the process heap, and
// the tagged block format with its writer and reader.
//
// A buffer owns its block whenever its size is not 0 and frees it with
// free(); a block recorded with size 0 is never freed by the buffer.
//
// A block stream is a sequence of blocks, each a 16-bit type, a 32-bit
// payload length (the 6 header bytes not counted) and the payload, all
// integers big-endian, with no padding between blocks. A composite block's
// payload is itself a block stream.
//
// Thread safety:
// - binary: one thread at a time (no locking).
// - binary_data_writer: one thread at a time; a writer and the writers
//   nested under it form one unit that one thread uses.
// - binary_data_reader: one thread at a time.
#ifndef VEK_OBJECT_BINARY_H
#define VEK_OBJECT_BINARY_H

#include "vek/object/base.h"

namespace vek {

class VEK_API i_binary : public virtual i_object {
public:
    // Owned by the buffer, valid until the data changes; null when empty.
    virtual const void* get_data() = 0;
    // 0 when there is no data.
    virtual unsigned int get_data_size() = 0;
    // Copies `size` bytes (no data for null or 0). False when the copy
    // cannot be allocated (the buffer is then empty).
    virtual bool set_data(const void* val, unsigned int size) = 0;
    // Forgets the data without freeing it: whoever read get_data owns it.
    virtual void detach() = 0;
    // Takes over `data` (malloc'ed) without copying; frees it later when
    // `data_size` is not 0.
    virtual void assign_data(void* data, unsigned int data_size) = 0;

protected:
    ~i_binary() = default;
};

// The implementation of i_binary for any class that mixes it in.
class VEK_API i_binary_impl : public virtual i_binary {
public:
    i_binary_impl();
    i_binary_impl(const i_binary_impl&) = delete;
    i_binary_impl& operator=(const i_binary_impl&) = delete;
    virtual ~i_binary_impl();

    const void* get_data() override;
    unsigned int get_data_size() override;
    bool set_data(const void* val, unsigned int size) override;
    void detach() override;
    void assign_data(void* data, unsigned int data_size) override;

protected:
    void* m_data;
    unsigned int m_size;
};

// Answers "i_binary".
class VEK_API binary : public object, public i_binary_impl {
public:
    binary();
    // Copies the bytes, or with `assign` takes the block over.
    binary(const void* data, unsigned int size, bool assign);

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

class VEK_API i_binary_data_writer : public virtual i_object {
public:
    // Appends a block of `type` with a `size`-byte payload, its header
    // written at once. Owned by the writer, valid until the next block or
    // enlargement: the payload for the caller to fill; null on failure.
    virtual void* allocate_block(unsigned short type, unsigned int size) = 0;
    // Makes the last allocated block `incr_size` bytes longer. Owned by the
    // writer: that block's payload (it may have moved); null when there is
    // no block yet or growing fails.
    virtual void* enlarge_block(unsigned int incr_size) = 0;
    // Owned by the writer, valid until the next block or enlargement: the
    // stream written so far; null before the first block (unless a prefix
    // was reserved).
    virtual const void* get_data() = 0;
    virtual unsigned int get_data_size() = 0;
    // Writes this writer's blocks as the payload of one `composite_type`
    // block of `parent` (not referenced). Refused once a buffer exists or
    // a prefix is reserved.
    virtual bool set_parent(i_binary_data_writer* parent, unsigned short composite_type) = 0;

protected:
    ~i_binary_data_writer() = default;
};

// Builds a block stream. Without a parent the writer owns a growing heap
// buffer; with one it owns no memory and writes into the payload of its
// composite block in the parent, so its blocks must be finished before the
// parent allocates its next block. Writers nest to any depth.
//
// Sizes that would take the stream past 32 bits are refused (null), never
// wrapped. Such sizes and failed allocations are traced by the constructor
// and allocate_block; enlarge_block reports them by its result alone.
// Answers "i_binary_data_writer".
class VEK_API binary_data_writer : public object, public virtual i_binary_data_writer {
public:
    // A non-zero `initial_size` without a parent reserves that many bytes
    // at the start of the buffer for the caller's own header; blocks follow
    // it, so a reader is given the data after the prefix. The reservation
    // holds even when the buffer cannot be allocated yet.
    binary_data_writer(i_binary_data_writer* parent = nullptr, unsigned short composite_type = 4,
                       unsigned int initial_size = 0);
    // Frees the buffer when there is no parent.
    virtual ~binary_data_writer();
    // Forgets the buffer without freeing it: whoever read get_data owns it
    // and frees it with free().
    virtual void detach();

    bool get_interface(const char* iface_name, void** pp_obj) override;
    void* allocate_block(unsigned short type, unsigned int size) override;
    void* enlarge_block(unsigned int incr_size) override;
    const void* get_data() override;
    unsigned int get_data_size() override;
    bool set_parent(i_binary_data_writer* parent, unsigned short composite_type) override;

protected:
    unsigned char* m_buffer;
    unsigned char* m_current_block;  // header of the last allocated block
    unsigned int m_used_size;
    unsigned int m_capacity;  // 0 with a parent
    i_binary_data_writer* m_parent;
    unsigned short m_composite_type;

private:
    void* allocate_own(unsigned short type, unsigned int size);
    void* allocate_in_parent(unsigned short type, unsigned int size);
    bool grow_to(unsigned long long capacity);
};

class VEK_API i_binary_data_reader : public virtual i_object {
public:
    // Positions the reader before the first block.
    virtual void reset() = 0;
    // Moves to the next block (the first one after reset). False, and every
    // later call too until reset, at the end of the data or at a block
    // whose header or payload would run past it.
    virtual bool next() = 0;
    // Owned by the data the reader was given: the current block's payload,
    // null when there is no current block.
    virtual const void* get_block_ptr() = 0;
    // The current block's payload length, 0 when there is none.
    virtual unsigned int get_block_size() = 0;
    // The current block's type, 0 when there is none.
    virtual unsigned short get_block_type() = 0;

protected:
    ~i_binary_data_reader() = default;
};

// Walks a block stream held by the caller (not copied, not owned); a
// composite block's payload is walked by a second reader over
// (get_block_ptr(), get_block_size()). Answers "i_binary_data_reader".
class VEK_API binary_data_reader : public object, public virtual i_binary_data_reader {
public:
    binary_data_reader(const void* data, unsigned int size);

    bool get_interface(const char* iface_name, void** pp_obj) override;
    void reset() override;
    bool next() override;
    const void* get_block_ptr() override;
    unsigned int get_block_size() override;
    unsigned short get_block_type() override;

protected:
    const void* m_data;
    // The block next() last accepted; before the first next() the start of
    // the data; null when exhausted.
    const unsigned char* m_current_block;
    unsigned int m_data_size;
    bool m_first_step;
};

}  // namespace vek

VEK_API vek::i_binary* vek_cast_i_binary(vek::i_object* obj);
VEK_API vek::i_binary_data_writer* vek_cast_i_binary_data_writer(vek::i_object* obj);
VEK_API vek::i_binary_data_reader* vek_cast_i_binary_data_reader(vek::i_object* obj);

#endif
