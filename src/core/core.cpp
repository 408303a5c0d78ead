#include "core/core.h"

#include <cstring>

#include "object/interface_query.h"
#include "platform/clock.h"

namespace vek {

namespace {
std::atomic<core*> g_core(nullptr);

object_col* new_col()
{
    auto* col = new object_col();
    col->addref();
    return col;
}

bool is_empty(const char* text)
{
    return text == nullptr || *text == '\0';
}
}  // namespace

core* the_core()
{
    return g_core.load(std::memory_order_acquire);
}

core::core() : m_libraries(new_col()), m_streams(new_col()), m_last_tick(platform::now_seconds())
{
    g_core.store(this, std::memory_order_release);
}

core::~core()
{
    m_streams->release();
    m_libraries->release();
    g_core.store(nullptr, std::memory_order_release);
}

int core::addref()
{
    return 1;
}

int core::release()
{
    return 1;
}

bool core::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_core")) return answer(pp_obj, static_cast<i_core*>(this));
    return object::get_interface(iface_name, pp_obj);
}

bool core::register_service(i_object* svc, const char* svc_type)
{
    if (svc == nullptr || is_empty(svc_type)) return false;
    svc->addref();
    bool stored = false;
    {
        mutex_locker lock(this);
        stored = m_services.emplace(svc_type, svc).second;
    }
    // The caller may have handed in a new object with count 0: undo our
    // reference outside the lock, since that release destroys it.
    if (!stored) svc->release();
    return stored;
}

bool core::unregister_service(const char* svc_type)
{
    if (is_empty(svc_type)) return false;
    i_object* svc = nullptr;
    {
        mutex_locker lock(this);
        auto it = m_services.find(svc_type);
        if (it == m_services.end()) return false;
        svc = it->second;
        m_services.erase(it);
    }
    svc->release();
    return true;
}

i_object* core::get_service(const char* svc_type)
{
    if (svc_type == nullptr) return nullptr;
    mutex_locker lock(this);
    auto it = m_services.find(svc_type);
    if (it == m_services.end()) return nullptr;
    it->second->addref();
    return it->second;
}

i_object_col* core::get_services()
{
    object_col* col = new_col();
    mutex_locker lock(this);
    col->reserve(static_cast<unsigned int>(m_services.size()));
    for (auto& entry : m_services) col->add_item(entry.second, false);
    return col;
}

std::vector<std::string> core::service_names()
{
    std::vector<std::string> names;
    mutex_locker lock(this);
    for (auto& entry : m_services) names.push_back(entry.first);
    return names;
}

i_object_col* core::get_libraries()
{
    object_col* col = new_col();
    mutex_locker lock(this);
    unsigned int count = m_libraries->get_count();
    for (unsigned int i = 0; i < count; ++i) {
        i_object* item = m_libraries->get_item_by_pos(i);
        if (item == nullptr) continue;
        void* lib = nullptr;
        if (item->get_interface("i_vek_library", &lib) && lib != nullptr) col->add_item(item, false);
        item->release();
    }
    return col;
}

void core::release_services()
{
    object_col* doomed = new_col();
    {
        mutex_locker lock(this);
        doomed->reserve(static_cast<unsigned int>(m_services.size()));
        // The temporary list holds each service now, so dropping the map's
        // reference here destroys nothing while the lock is held.
        for (auto& entry : m_services) {
            doomed->add_item(entry.second, false);
            entry.second->release();
        }
        m_services.clear();
    }
    doomed->clear();
    vek_trace("core: services released.");
    doomed->release();
}

}  // namespace vek
