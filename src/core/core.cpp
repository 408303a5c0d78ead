#include "core/core.h"

#include <algorithm>
#include <cstring>
#include <thread>

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

service_table* new_table()
{
    static std::atomic<unsigned long long> serials{0};
    auto* table = new service_table();
    table->serial = serials.fetch_add(1, std::memory_order_relaxed) + 1;
    return table;
}

bool is_empty(const char* text)
{
    return text == nullptr || *text == '\0';
}
}  // namespace

unsigned int service_readers::enter()
{
    // Threads take slots in turn, so a few threads rarely share one.
    static std::atomic<unsigned int> next_slot{0};
    thread_local const unsigned int t_slot = next_slot.fetch_add(1, std::memory_order_relaxed) % k_slots;
    const unsigned int phase = m_phase.load(std::memory_order_seq_cst) & 1;
    m_slots[t_slot].count[phase].fetch_add(1, std::memory_order_seq_cst);
    return t_slot * 2 + phase;
}

void service_readers::leave(unsigned int ticket)
{
    m_slots[ticket / 2].count[ticket % 2].fetch_sub(1, std::memory_order_release);
}

// A reader that read the phase before a flip may count itself under the
// old phase after the writer found it drained; it then reads the new data,
// but a second flip is needed before the next change may free that.
void service_readers::wait_for_readers()
{
    for (int flip = 0; flip < 2; ++flip) {
        const unsigned int left = m_phase.fetch_add(1, std::memory_order_seq_cst) & 1;
        for (slot& s : m_slots) {
            while (s.count[left].load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
        }
    }
}

i_object* service_table::find(const char* svc_type) const
{
    auto it = std::lower_bound(entries.begin(), entries.end(), svc_type,
                               [](const auto& e, const char* name) { return std::strcmp(e.first.c_str(), name) < 0; });
    return it != entries.end() && std::strcmp(it->first.c_str(), svc_type) == 0 ? it->second : nullptr;
}

core* the_core()
{
    return g_core.load(std::memory_order_acquire);
}

core::core() : m_table(new_table()), m_libraries(new_col()), m_streams(new_col()), m_last_tick(platform::now_seconds())
{
    g_core.store(this, std::memory_order_release);
}

core::~core()
{
    m_streams->release();
    m_libraries->release();
    delete m_table.load();
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
        if (stored) publish_services();
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
        // After this no lookup holds the service without a reference.
        publish_services();
    }
    svc->release();
    return true;
}

i_object* core::get_service(const char* svc_type)
{
    if (svc_type == nullptr) return nullptr;
    return with_services([svc_type](const service_table& table) {
        i_object* svc = table.find(svc_type);
        if (svc != nullptr) svc->addref();
        return svc;
    });
}

void core::publish_services()
{
    auto* table = new_table();
    table->entries.assign(m_services.begin(), m_services.end());
    const service_table* old = m_table.exchange(table, std::memory_order_seq_cst);
    m_readers.wait_for_readers();
    delete old;
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
        publish_services();
    }
    doomed->clear();
    vek_trace("core: services released.");
    doomed->release();
}

}  // namespace vek
