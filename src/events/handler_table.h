// The installed handlers of the event processor and the walk of one
// delivery over them.
//
// Each type's handlers live in an immutable, reference-counted array in
// installation order. Installs and uninstalls are queued; the next pass of
// any delivery applies them (installs first, then uninstalls) by building
// new arrays. A delivery holds the array it walks, so it never needs the
// lock while nothing is queued and the event keeps its type: each pass then
// goes on below the record the previous pass picked. A change that reaches
// the delivery's type, or a handler that re-types or re-identifies the
// event, makes the next pass start again from the newest record and skip
// what was already called, looked up in a hash set.
//
// Thread safety: safe for concurrent use. One lock guards the type map and
// the queued changes; it is never held while a handler runs.
#ifndef VEK_EVENTS_HANDLER_TABLE_H
#define VEK_EVENTS_HANDLER_TABLE_H

#include <atomic>
#include <map>
#include <cstddef>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "object/plain_mutex.h"
#include "vek/events.h"

namespace vek {

struct handler_record {
    long long object_id;
    unsigned int event_type;
    i_event_handler* handler;
    i_object* handler_object;
    vek_event_function callback;
};

struct handler_record_hash {
    std::size_t operator()(const handler_record& r) const;
};
// Records are the same when identifier, type, handler and callback are.
struct handler_record_same {
    bool operator()(const handler_record& a, const handler_record& b) const;
};
typedef std::unordered_set<handler_record, handler_record_hash, handler_record_same> handler_record_set;

class handler_array;

class handler_table {
public:
    // Where one delivery stands. Holds a reference to the array it walks.
    class walk {
    public:
        walk() = default;
        walk(const walk&) = delete;
        walk& operator=(const walk&) = delete;
        ~walk();

    private:
        friend class handler_table;
        // Switches to `list` (taking over its reference): from here on every
        // pick is checked against the records already called.
        void restart(handler_array* list, unsigned int type, long long id);
        // Puts the records the walk so far called into the called set.
        void remember_called();

        handler_array* m_list = nullptr;
        bool m_started = false;
        bool m_checking = false;
        unsigned int m_type = 0;
        long long m_id = 0;
        std::size_t m_next = 0;            // the walk goes on below this position
        unsigned long long m_changes = 0;  // the table's count when last looked up
        std::unique_ptr<handler_record_set> m_called;
    };

    handler_table() = default;
    handler_table(const handler_table&) = delete;
    handler_table& operator=(const handler_table&) = delete;
    ~handler_table();

    // Queue a change for the next delivery pass. False when out of memory.
    bool queue_install(const handler_record& rec) VEK_EXCLUDES(m_lock);
    bool queue_uninstall(const handler_record& rec) VEK_EXCLUDES(m_lock);

    // One delivery pass for `e`: the newest record matching the event's
    // current type and identifier that this delivery has not called yet.
    // False when none is left. May throw std::bad_alloc.
    bool next(i_event* e, walk& w, handler_record* picked) VEK_EXCLUDES(m_lock);

    // The installed handlers of each type that has any, by type number.
    // Changes still queued for the next pass are not counted.
    std::map<unsigned int, std::size_t> counts() VEK_EXCLUDES(m_lock);

private:
    // The type's array with a new reference, or null; applies queued
    // changes first and stores the change count they brought it to.
    handler_array* current(unsigned int type, unsigned long long* changes) VEK_EXCLUDES(m_lock);
    bool queue(bool install, const handler_record& rec) VEK_EXCLUDES(m_lock);
    void apply_pending() VEK_REQUIRES(m_lock);

    plain_mutex m_lock;
    // Each array holds one reference for the map.
    std::unordered_map<unsigned int, handler_array*> m_lists VEK_GUARDED_BY(m_lock);
    std::vector<handler_record> m_installs VEK_GUARDED_BY(m_lock);
    std::vector<handler_record> m_uninstalls VEK_GUARDED_BY(m_lock);
    // Grows under m_lock with every queued change; read without it, so a
    // pass learns cheaply that nothing changed since the walk's last look.
    std::atomic<unsigned long long> m_changes{0};
};

}  // namespace vek

#endif
