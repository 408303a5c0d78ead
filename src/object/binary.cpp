#include "vek/object/binary.h"

#include <cstdlib>
#include <cstring>

#include "object/cast_impl.h"
#include "object/interface_query.h"

namespace vek {

i_binary_impl::i_binary_impl() : m_data(nullptr), m_size(0) {}

i_binary_impl::~i_binary_impl()
{
    if (m_size != 0) std::free(m_data);
}

const void* i_binary_impl::get_data()
{
    return m_data;
}

unsigned int i_binary_impl::get_data_size()
{
    return m_data != nullptr ? m_size : 0;
}

bool i_binary_impl::set_data(const void* val, unsigned int size)
{
    assign_data(nullptr, 0);
    if (val == nullptr || size == 0) return true;
    void* copy = std::malloc(size);
    if (copy == nullptr) return false;
    std::memcpy(copy, val, size);
    m_data = copy;
    m_size = size;
    return true;
}

void i_binary_impl::detach()
{
    m_data = nullptr;
    m_size = 0;
}

void i_binary_impl::assign_data(void* data, unsigned int data_size)
{
    if (m_size != 0 && m_data != data) std::free(m_data);
    m_data = data;
    m_size = data_size;
}

binary::binary() {}

binary::binary(const void* data, unsigned int size, bool assign)
{
    if (assign) {
        assign_data(const_cast<void*>(data), size);
    } else {
        set_data(data, size);
    }
}

bool binary::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_binary")) return answer(pp_obj, static_cast<i_binary*>(this));
    return object::get_interface(iface_name, pp_obj);
}

}  // namespace vek

VEK_DEFINE_CAST(vek::i_binary, i_binary)
