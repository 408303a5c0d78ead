// Binary buffers: reference-counted byte blocks on the process heap.
//
// A buffer owns its block whenever its size is not 0 and frees it with
// free(); a block recorded with size 0 is never freed by the buffer.
//
// Thread safety: binary is one thread at a time (no locking).
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

}  // namespace vek

VEK_API vek::i_binary* vek_cast_i_binary(vek::i_object* obj);

#endif
