#include "util/translator.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <unordered_map>
#include <utility>

#include "core/status_tree.h"
#include "object/interface_query.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "util/lng_reader.h"
#include "vek/core.h"
#include "vek/object/cast.h"
#include "vek/object/string.h"
#include "vek/util.h"

namespace vek {

namespace {

// Background ticks since the last periodic rescan, shared by the process.
std::atomic<int> g_ticks{0};
std::atomic<unsigned int> g_next_slot{0};

const vek_event_function k_on_post_load = static_cast<vek_event_function>(&translator::on_post_load);
const vek_event_function k_on_bg_task = static_cast<vek_event_function>(&translator::on_bg_task);

bool equal_ascii_nocase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char ca = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a + 32) : *a;
        char cb = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b + 32) : *b;
        if (ca != cb) return false;
    }
    return *a == *b;
}

// The subdirectory names of `dir`; empty when it cannot be listed.
std::vector<std::string> subdirectories(const std::string& dir)
{
    std::vector<std::string> names;
    i_object_col* col = vek_scan_dir(dir.c_str(), "*", 2);
    if (col == nullptr) return names;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        i_object* item = col->get_item_by_pos(i);
        i_string* text = vek_cast_i_string(item);
        if (text != nullptr) names.emplace_back(text->get_value());
        vek_release(item);
    }
    col->release();
    return names;
}

class VEK_SCOPED_CAPABILITY read_guard {
public:
    explicit read_guard(reader_slots& slots) VEK_ACQUIRE_SHARED(slots) : m_slots(slots) { m_slots.lock_shared(); }
    ~read_guard() VEK_RELEASE() { m_slots.unlock_shared(); }
    read_guard(const read_guard&) = delete;
    read_guard& operator=(const read_guard&) = delete;

private:
    reader_slots& m_slots;
};

}  // namespace

reader_slots::slot& reader_slots::mine(slot* slots)
{
    thread_local unsigned int t_slot = g_next_slot.fetch_add(1, std::memory_order_relaxed) % k_slots;
    return slots[t_slot];
}

// The reader announces itself before it looks at the flag and the writer
// raises the flag before it looks at the slots (both sequentially
// consistent), so one of them always sees the other. The lock primitives
// are not checked: the analysis cannot see that the counters are the lock.
void reader_slots::lock_shared() VEK_NO_THREAD_SAFETY_ANALYSIS
{
    slot& s = mine(m_slots);
    for (;;) {
        s.readers.fetch_add(1, std::memory_order_seq_cst);
        if (!m_writing.load(std::memory_order_seq_cst)) return;
        s.readers.fetch_sub(1, std::memory_order_release);
        while (m_writing.load(std::memory_order_acquire)) std::this_thread::yield();
    }
}

void reader_slots::unlock_shared() VEK_NO_THREAD_SAFETY_ANALYSIS
{
    mine(m_slots).readers.fetch_sub(1, std::memory_order_release);
}

void reader_slots::lock() VEK_NO_THREAD_SAFETY_ANALYSIS
{
    m_writing.store(true, std::memory_order_seq_cst);
    for (slot& s : m_slots) {
        while (s.readers.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    }
}

void reader_slots::unlock() VEK_NO_THREAD_SAFETY_ANALYSIS
{
    m_writing.store(false, std::memory_order_release);
}

// One catalogue file. Keys and translations point into the interned store.
struct translator::entry {
    const char* language;
    std::string catalog;
    std::string path;
    unsigned int mtime;  // at the last successful load; 0: never
    std::unordered_map<std::string_view, const char*> messages;
    bool missing;
};

// What translate reads: for each language, the first translation of each
// message over the language's entries that are not missing, in entry order.
struct translator::index {
    std::vector<std::pair<const char*, std::unordered_map<std::string_view, const char*>>> languages;
};

translator::translator() : m_index(new index()), m_language(nullptr)
{
    set_name("translator");
    m_language = intern("en").data();
    vek_install_handler("VEK_CORE_EVT_POST_LOAD_LIBRARY", 0, this, k_on_post_load);
    vek_install_handler("VEK_CORE_EVT_BG_TASK", 0, this, k_on_bg_task);
}

translator::~translator()
{
    vek_uninstall_handler("VEK_CORE_EVT_POST_LOAD_LIBRARY", 0, this, k_on_post_load);
    vek_uninstall_handler("VEK_CORE_EVT_BG_TASK", 0, this, k_on_bg_task);
    // A rescan under way in a pool thread ends before the state goes.
    lock();
    unlock();
    delete m_index.load();
}

bool translator::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_translator")) return answer(pp_obj, static_cast<i_translator*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    if (name_is(iface_name, "i_status_source")) return answer(pp_obj, static_cast<i_status_source*>(this));
    return object::get_interface(iface_name, pp_obj);
}

void translator::add_status(i_xml_node* status)
{
    auto_ptr_t<i_object> svc = vek_core()->get_service("svc_xml");
    i_xml_proc* xml = vek_cast_i_xml_proc(svc);
    if (xml == nullptr) return;
    std::vector<std::string> catalogs, languages;
    std::size_t messages = 0;
    {
        mutex_locker lock(this);
        catalogs = m_catalogs;
        languages.assign(m_languages.begin(), m_languages.end());
        messages = m_entries.size();
    }
    const char* language = m_language.load(std::memory_order_acquire);
    status_tree tree(xml);
    auto_ptr_t<i_xml_node> node = tree.add(status, "translator");
    status_tree::set(node, "language", std::string(language != nullptr ? language : ""));
    status_tree::set(node, "messages", static_cast<unsigned long long>(messages));
    for (const std::string& name : catalogs) {
        auto_ptr_t<i_xml_node> catalog = tree.add(node, "catalog");
        status_tree::set(catalog, "name", name);
    }
    for (const std::string& name : languages) {
        auto_ptr_t<i_xml_node> known = tree.add(node, "language");
        status_tree::set(known, "name", name);
    }
}

const char* translator::translate(const char* msg, const char* language)
{
    if (msg == nullptr || language == nullptr) return "";
    if (*language == '\0') language = m_language.load(std::memory_order_acquire);
    read_guard guard(m_slots);
    const index* idx = m_index.load(std::memory_order_acquire);
    for (const auto& lang : idx->languages) {
        if (std::strcmp(lang.first, language) != 0) continue;
        auto hit = lang.second.find(std::string_view(msg));
        return hit != lang.second.end() ? hit->second : msg;
    }
    return msg;
}

void translator::set_language(const char* language)
{
    if (language == nullptr || *language == '\0') return;
    mutex_locker lock(this);
    try {
        vek_trace("translator::set_language(%s)", language);
        m_language.store(intern(language).data(), std::memory_order_release);
    } catch (const std::exception&) {
        // Out of memory: the language stays.
    }
}

void translator::add_catalog(const char* catalog)
{
    if (catalog == nullptr) return;
    mutex_locker lock(this);
    for (const std::string& known : m_catalogs) {
        if (known == catalog) return;
    }
    try {
        m_catalogs.emplace_back(catalog);
    } catch (const std::exception&) {
        return;
    }
    rescan(catalog);
}

void translator::add_search_path(const char* path)
{
    if (path == nullptr) return;
    char* abs = vek_get_absolute_path(path);
    if (abs == nullptr) return;
    {
        mutex_locker lock(this);
        bool known = false;
        for (const std::string& p : m_paths) known = known || p == abs;
        try {
            if (!known) m_paths.emplace_back(abs);
        } catch (const std::exception&) {
            // Out of memory: the path is not added.
        }
    }
    std::free(abs);
}

std::string_view translator::intern(std::string&& text)
{
    const std::string& stored = *m_texts.insert(std::move(text)).first;
    return std::string_view(stored.data(), stored.size());
}

void translator::rescan(const char* catalog)
{
    mutex_locker lock(this);
    try {
        discover_languages();
        bool changed = false;
        for (const std::string& name : m_catalogs) {
            if (catalog != nullptr && name != catalog) continue;
            for (const char* language : m_languages) {
                for (const std::string& dir : m_paths) changed |= scan_file(name, language, dir, catalog == nullptr);
            }
        }
        publish_languages();
        changed |= sweep_missing();
        if (changed) rebuild_index();
    } catch (const std::exception&) {
        // Out of memory: the next rescan tries again.
    }
}

// REQUIRES: the mutex held.
void translator::discover_languages()
{
    for (const std::string& dir : m_paths) {
        for (std::string& name : subdirectories(dir)) {
            if (name.empty() || equal_ascii_nocase(name.c_str(), "cvs") || equal_ascii_nocase(name.c_str(), ".svn")) {
                continue;
            }
            bool known = false;
            for (const char* l : m_languages) known = known || name == l;
            if (!known) m_languages.push_back(intern(std::move(name)).data());
        }
    }
}

// Loads the file of one catalogue, language and search path when it is new
// or newer than at its last load; a known file that is there again is no
// longer ignored. True when an entry changed. REQUIRES: the
// mutex held.
bool translator::scan_file(const std::string& catalog, const char* language, const std::string& dir, bool trace)
{
    std::string path = dir + "/" + language + "/" + catalog + ".lng";
    unsigned int mtime = 0;
    if (!platform::file_mtime(path.c_str(), &mtime)) return false;
    for (const auto& e : m_entries) {
        if (e->path != path) continue;
        if (e->mtime != 0 && e->mtime >= mtime) {
            // Back after it was found missing, unchanged: its messages hold.
            bool was_missing = e->missing;
            e->missing = false;
            return was_missing;
        }
        if (load(*e, trace)) e->mtime = mtime;
        e->missing = false;
        return true;
    }
    auto e = std::make_unique<entry>(entry{language, catalog, path, mtime, {}, false});
    if (!load(*e, trace)) return false;
    m_entries.push_back(std::move(e));
    return true;
}

// Merges the file's pairs over the entry's messages; a msgid that repeats
// takes its last msgstr. REQUIRES: the mutex held.
bool translator::load(entry& e, bool trace)
{
    if (trace) vek_trace("translator::reload_catalog('%s', '%s')", e.catalog.c_str(), e.path.c_str());
    return lng::read_file(e.path.c_str(), [&](std::string_view id, std::string_view str) VEK_REQUIRES(this) {
        std::string_view key = intern(std::string(id));
        e.messages[key] = intern(std::string(str)).data();
    });
}

// REQUIRES: the mutex held.
void translator::publish_languages()
{
    std::string list;
    for (const char* language : m_languages) {
        if (!list.empty()) list += ',';
        list += language;
    }
    platform::set_env("VEK_I18N_LANGS", list.c_str());
}

// Marks the entries whose file has gone; forgets the first one that was
// marked already. True when anything changed. REQUIRES: the mutex held.
bool translator::sweep_missing()
{
    bool changed = false;
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        unsigned int mtime = 0;
        if (platform::file_mtime((*it)->path.c_str(), &mtime)) continue;
        if ((*it)->missing) {
            m_entries.erase(it);
            return true;
        }
        (*it)->missing = true;
        changed = true;
    }
    return changed;
}

// Builds the index from the entries and swaps it in. REQUIRES: the mutex
// held.
void translator::rebuild_index()
{
    auto next = std::make_unique<index>();
    for (const auto& e : m_entries) {
        if (e->missing) continue;
        std::unordered_map<std::string_view, const char*>* messages = nullptr;
        for (auto& lang : next->languages) {
            if (std::strcmp(lang.first, e->language) == 0) messages = &lang.second;
        }
        if (messages == nullptr) {
            next->languages.emplace_back(e->language, std::unordered_map<std::string_view, const char*>());
            messages = &next->languages.back().second;
        }
        for (const auto& message : e->messages) messages->emplace(message.first, message.second);
    }
    m_slots.lock();
    index* old = m_index.exchange(next.release(), std::memory_order_acq_rel);
    m_slots.unlock();
    delete old;
}

bool translator::on_post_load(i_event* evt)
{
    i_object* obj = evt != nullptr ? evt->get_event_object() : nullptr;
    i_vek_library* lib = vek_cast_i_vek_library(obj);
    if (lib != nullptr && std::strcmp(lib->get_name(), "vek_core") == 0) {
        add_search_path("${VEK_ROOT_PATH}/i18n");
        if (platform::get_env("VEK_TRANSLATION_PATH") != nullptr) add_search_path("${VEK_TRANSLATION_PATH}");
    }
    vek_release(obj);
    return true;
}

bool translator::on_bg_task(i_event*)
{
    int seen = g_ticks.load(std::memory_order_relaxed);
    while (!g_ticks.compare_exchange_weak(seen, seen >= 5 ? 0 : seen + 1, std::memory_order_relaxed)) {
    }
    // Once the library stops the services are going; no rescan starts then.
    if (seen >= 5 && vek_is_running()) rescan(nullptr);
    return true;
}

}  // namespace vek
