#include "vek/object/base.h"

#include "vek/core.h"

namespace vek {

// Counts are atomic rather than guarded by one process-wide lock: the
// results are the same (new count returned, the release that reaches 0
// destroys, a release at 0 goes to -1 and destroys nothing) without every
// object in the process contending for one lock.
object::object() : m_ref_count(0) {}

object::~object()
{
    int count = m_ref_count.load(std::memory_order_relaxed);
    if (count != 0) vek_trace("WARNING: Destroying object with non zero reference count value: %d.", count);
}

int object::addref()
{
    return m_ref_count.fetch_add(1, std::memory_order_relaxed) + 1;
}

int object::release()
{
    int count = m_ref_count.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) delete this;
    return count;
}

bool object::get_interface(const char* iface_name, void** pp_obj)
{
    if (pp_obj != nullptr) *pp_obj = nullptr;
    return false;
}

i_typed_object_impl::i_typed_object_impl() : m_id(0) {}

i_typed_object_impl::~i_typed_object_impl() = default;

long long i_typed_object_impl::get_id()
{
    return m_id;
}

}  // namespace vek
