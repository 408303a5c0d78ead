#include "events/handler_table.h"

#include <algorithm>
#include <functional>
#include <new>

#include "vek/core.h"

namespace vek {

std::size_t handler_record_hash::operator()(const handler_record& r) const
{
    std::size_t h = std::hash<const void*>()(r.handler);
    h ^= std::hash<long long>()(r.object_id) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
    return h ^ (r.event_type * 0x85ebca6bu);
}

bool handler_record_same::operator()(const handler_record& a, const handler_record& b) const
{
    return a.object_id == b.object_id && a.event_type == b.event_type && a.handler == b.handler &&
           a.callback == b.callback;
}

// One type's handlers, never changed once built. A record with a newer
// equal record in the same array is marked: it can never be called, since
// the newer one is always reached first.
class handler_array {
public:
    struct item {
        handler_record rec;
        bool shadowed;
    };

    explicit handler_array(std::vector<item>&& items) : m_items(std::move(items))
    {
        handler_record_set seen;
        for (std::size_t i = m_items.size(); i-- > 0;) m_items[i].shadowed = !seen.insert(m_items[i].rec).second;
    }
    void addref() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void release()
    {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    const std::vector<item>& items() const { return m_items; }

private:
    std::atomic<int> m_refs{1};
    std::vector<item> m_items;
};

namespace {

bool matches(const handler_record& rec, long long id)
{
    return rec.object_id == id || rec.object_id == 0;
}

void drop(handler_array* list)
{
    if (list != nullptr) list->release();
}

}  // namespace

handler_table::walk::~walk()
{
    drop(m_list);
}

void handler_table::walk::remember_called()
{
    if (m_checking || m_list == nullptr) return;
    if (!m_called) m_called.reset(new handler_record_set());
    // Without a change every matching record above the position was called
    // (shadowed ones equal a called one).
    const auto& items = m_list->items();
    for (std::size_t i = m_next; i < items.size(); ++i) {
        if (matches(items[i].rec, m_id)) m_called->insert(items[i].rec);
    }
}

void handler_table::walk::restart(handler_array* list, unsigned int type, long long id)
{
    remember_called();
    if (!m_called) m_called.reset(new handler_record_set());
    drop(m_list);
    m_list = list;
    m_checking = true;
    m_type = type;
    m_id = id;
    m_next = list != nullptr ? list->items().size() : 0;
}

handler_table::~handler_table()
{
    for (auto& entry : m_lists) drop(entry.second);
}

bool handler_table::queue_install(const handler_record& rec)
{
    return queue(true, rec);
}

bool handler_table::queue_uninstall(const handler_record& rec)
{
    return queue(false, rec);
}

bool handler_table::queue(bool install, const handler_record& rec)
{
    plain_lock hold(m_lock);
    try {
        (install ? m_installs : m_uninstalls).push_back(rec);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_changes.fetch_add(1, std::memory_order_release);
    return true;
}

handler_array* handler_table::current(unsigned int type, unsigned long long* changes)
{
    plain_lock hold(m_lock);
    if (!m_installs.empty() || !m_uninstalls.empty()) apply_pending();
    *changes = m_changes.load(std::memory_order_relaxed);
    auto found = m_lists.find(type);
    if (found == m_lists.end() || found->second == nullptr) return nullptr;
    found->second->addref();
    return found->second;
}

void handler_table::apply_pending()
{
    // Every touched type gets its new record list here first; the arrays are
    // built once per type, so a batch of installs costs one copy.
    std::unordered_map<unsigned int, std::vector<handler_array::item>> changed;
    unsigned int type = 0;
    auto working = [&](unsigned int t) VEK_REQUIRES(m_lock) -> std::vector<handler_array::item>& {
        type = t;
        auto it = changed.find(t);
        if (it != changed.end()) return it->second;
        std::vector<handler_array::item>& items = changed[t];
        auto old = m_lists.find(t);
        if (old != m_lists.end() && old->second != nullptr) items = old->second->items();
        return items;
    };
    try {
        for (const handler_record& rec : m_installs) working(rec.event_type).push_back({rec, false});
        for (const handler_record& rec : m_uninstalls) {
            std::vector<handler_array::item>& items = working(rec.event_type);
            auto match = std::find_if(items.begin(), items.end(), [&rec](const handler_array::item& it) {
                return it.rec.object_id == rec.object_id && it.rec.handler == rec.handler &&
                       it.rec.callback == rec.callback;
            });
            if (match != items.end()) items.erase(match);
        }
        for (auto& entry : changed) {
            type = entry.first;
            handler_array*& slot = m_lists[type];
            auto* list = new handler_array(std::move(entry.second));
            drop(slot);
            slot = list;
        }
    } catch (const std::bad_alloc&) {
        vek_trace("event_proc: out of memory, handler for event type %u not installed", type);
    }
    m_installs.clear();
    m_uninstalls.clear();
}

bool handler_table::next(i_event* e, walk& w, handler_record* picked)
{
    unsigned int type = e->get_event_type();
    long long id = e->get_event_id();
    if (!w.m_started) {
        w.m_started = true;
        w.m_list = current(type, &w.m_changes);
        w.m_type = type;
        w.m_id = id;
        w.m_next = w.m_list != nullptr ? w.m_list->items().size() : 0;
    } else if (type != w.m_type || m_changes.load(std::memory_order_acquire) != w.m_changes) {
        handler_array* now = current(type, &w.m_changes);
        if (now != w.m_list || type != w.m_type) {
            w.restart(now, type, id);
        } else {
            drop(now);
        }
    }
    if (id != w.m_id) w.restart(w.m_list != nullptr ? (w.m_list->addref(), w.m_list) : nullptr, type, id);
    if (w.m_list == nullptr) return false;
    const auto& items = w.m_list->items();
    for (std::size_t i = w.m_next; i-- > 0;) {
        const handler_array::item& it = items[i];
        if (!matches(it.rec, id) || it.shadowed) continue;
        if (w.m_checking && !w.m_called->insert(it.rec).second) continue;
        w.m_next = i;
        *picked = it.rec;
        return true;
    }
    w.m_next = 0;
    return false;
}

std::map<unsigned int, std::size_t> handler_table::counts()
{
    std::map<unsigned int, std::size_t> out;
    plain_lock hold(m_lock);
    for (const auto& entry : m_lists) {
        if (!entry.second->items().empty()) out[entry.first] = entry.second->items().size();
    }
    return out;
}

}  // namespace vek
