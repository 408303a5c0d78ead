#include <cstdlib>
#include <cstring>

#include "vek/object/base.h"

namespace vek {

i_named_object_impl::i_named_object_impl() : m_name(nullptr) {}

i_named_object_impl::~i_named_object_impl()
{
    std::free(m_name);
}

const char* i_named_object_impl::get_name()
{
    return m_name != nullptr ? m_name : "";
}

bool i_named_object_impl::set_name(const char* name)
{
    if (name == nullptr) return false;
    char* copy = nullptr;
    if (*name != '\0') {
        copy = strdup(name);
        if (copy == nullptr) return false;
    }
    std::free(m_name);
    m_name = copy;
    return true;
}

bool i_named_object_impl::assign_name(char* name)
{
    if (name == m_name) return true;
    std::free(m_name);
    m_name = name;
    return true;
}

}  // namespace vek
