// The translator service behind "svc_translator".
//
// Two locks guard the state. The translator's own mutex serialises every
// change: the operations that add languages, catalogues and search paths
// and the rescans, which read the catalogue files. Lookups take neither:
// they read an immutable index of the current translations under a
// reader-slot lock, whose write side a change holds only to swap in a
// rebuilt index. Every text a lookup can return lives in an interned store
// that only grows, so a returned pointer outlives its catalogue.
//
// Lock order: the mutex, then the write side of the reader slots, then the
// logging lock (traces are written under the mutex).
//
// Thread safety: translator is safe for concurrent use.
#ifndef VEK_UTIL_TRANSLATOR_IMPL_H
#define VEK_UTIL_TRANSLATOR_IMPL_H

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "vek/events.h"
#include "vek/status.h"
#include "vek/object/sync.h"
#include "vek/util/translator.h"

namespace vek {

// A reader-writer lock for read-mostly data: each reader thread counts
// itself in a slot of its own cache line, so readers on different cores
// share no written memory; a writer raises a flag and waits for every slot
// to empty. One writer at a time (the caller serialises writers).
class VEK_CAPABILITY("reader_slots") reader_slots {
public:
    void lock_shared() VEK_ACQUIRE_SHARED();
    void unlock_shared() VEK_RELEASE_SHARED();
    // REQUIRES: no other writer.
    void lock() VEK_ACQUIRE();
    void unlock() VEK_RELEASE();

private:
    static constexpr unsigned int k_slots = 16;
    struct alignas(64) slot {
        std::atomic<int> readers{0};
    };
    static slot& mine(slot* slots);

    slot m_slots[k_slots];
    std::atomic<bool> m_writing{false};
};

class translator : public object,
                   public mutex,
                   public i_named_object_impl,
                   public virtual i_translator,
                   public virtual i_status_source {
public:
    // Named "translator"; installs its handlers for the library load and
    // background task events when "svc_event" exists.
    translator();
    ~translator() override;

    // Owned by the translator, valid until it is destroyed (or `msg`).
    const char* translate(const char* msg, const char* language = "") override;
    void set_language(const char* language) override;
    void add_catalog(const char* catalog) override;
    void add_search_path(const char* path) override;

    // Answers "i_translator" and "i_named_object".
    bool get_interface(const char* iface_name, void** pp_obj) override;
    // <translator>: the language, the messages loaded, each catalogue and
    // each language found.
    void add_status(i_xml_node* status) override;

    // Finds languages, loads new and newer catalogue files (only those of
    // `catalog` when it is non-null), publishes "VEK_I18N_LANGS" and deals
    // with vanished files: a file seen missing is first ignored, and the
    // first entry already ignored is forgotten (one per rescan).
    void rescan(const char* catalog);

    // Event handlers. On the load of "vek_core": adds the default search
    // paths. Every sixth background tick: a full rescan.
    bool on_post_load(i_event* evt);
    bool on_bg_task(i_event* evt);

private:
    struct entry;
    struct index;

    std::string_view intern(std::string&& text) VEK_REQUIRES(this);
    void discover_languages() VEK_REQUIRES(this);
    bool scan_file(const std::string& catalog, const char* language, const std::string& dir, bool trace)
        VEK_REQUIRES(this);
    bool load(entry& e, bool trace) VEK_REQUIRES(this);
    void publish_languages() VEK_REQUIRES(this);
    bool sweep_missing() VEK_REQUIRES(this);
    void rebuild_index() VEK_REQUIRES(this);

    reader_slots m_slots;
    // Swapped under the write side of m_slots; the index itself never
    // changes once published.
    std::atomic<index*> m_index VEK_GUARDED_BY(m_slots);
    // Points into m_texts.
    std::atomic<const char*> m_language;
    std::unordered_set<std::string> m_texts VEK_GUARDED_BY(this);
    std::vector<std::unique_ptr<entry>> m_entries VEK_GUARDED_BY(this);
    std::vector<std::string> m_paths VEK_GUARDED_BY(this);
    std::vector<std::string> m_catalogs VEK_GUARDED_BY(this);
    // Point into m_texts.
    std::vector<const char*> m_languages VEK_GUARDED_BY(this);
};

}  // namespace vek

#endif
