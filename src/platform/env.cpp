#include "platform/env.h"

#include <stdlib.h>
#include <tcl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/thread.h"

// Exported by Tcl (its internal stubs table), not declared in tcl.h.
extern "C" const char* TclGetEnv(const char* name, Tcl_DString* value);

namespace vek {
namespace platform {

// Who reads what set_env publishes, and what orders those reads after the
// writes that made it:
//
// - get_env: acquire loads of `environ` and of every slot, paired with the
//   release stores in publish().
// - Tcl's environment functions read `environ`, its slots and the texts
//   with plain loads, always while holding Tcl's environment lock:
//   TclGetEnv (every Tcl thread as it ends, a script reading env(NAME)),
//   TclSetupEnv (every new interpreter, `array` on env), TclSetEnv and
//   TclUnsetEnv. That lock is private to Tcl; the one call that goes
//   through it without an interpreter and changes nothing is TclGetEnv.
//   So publish() writes the new text or array, passes through the lock
//   by a TclGetEnv call, and only then stores the pointer. A Tcl reader
//   that takes the lock after that pass reads the new memory only after
//   our writes (the unlock in our pass happens before its lock); one that
//   took it earlier has let go before our store, so it sees the old
//   pointer and none of the new memory.
// - The pointer store itself stays unordered with those plain loads, and
//   with every getenv: in glibc (tzset, the resolver), in Tcl
//   (Tcl_CreateInterp asks for TCL_PKG_PREFER_LATEST, `clock` for TZ) and
//   in host code. No writer escapes that, Tcl's own setter included; the
//   environment is not made for writes while others read it. Where the
//   library itself makes such reads (the time-zone calls, making an
//   interpreter) it holds an env_pause, which orders them wholly before
//   or after each publication.
//
// Writing through Tcl_PutEnv would put the pointer store under Tcl's lock
// too, but Tcl's setter frees the strings it replaces and its old arrays,
// and publishes a grown array before its last slot is set, all of which a
// getenv elsewhere can walk into; and it passes the text through Tcl's
// system encoding, which changes bytes that are not UTF-8 in a UTF-8
// locale.

namespace {

// Memory handed to readers is never freed. Every block hangs off one list
// from a static root, so leak checkers see it as reachable.
struct block {
    block* next;
    std::size_t size;  // usable bytes after the header
    std::size_t used;
};
constexpr std::size_t k_header = (sizeof(block) + 15) & ~std::size_t{15};
// Texts are carved from blocks of this size; a longer text gets a block of
// its own.
constexpr std::size_t k_text_block = 64 * 1024;
constexpr std::size_t k_min_slots = 64;

// Writers' state. REQUIRES: `lock` held for every field.
struct env_state {
    std::mutex lock;
    block* blocks = nullptr;                             // newest first
    block* text_block = nullptr;                         // where short texts are carved now
    char** array = nullptr;                              // the array we published last
    std::size_t capacity = 0;                            // its slots, terminator included
    std::size_t count = 0;                               // its entries before the terminator
    std::unordered_map<std::string, std::size_t> index;  // name -> first slot
    // Every text made so far. A pair set again reuses its text, so memory
    // grows with the distinct pairs ever set, not with the number of sets.
    std::unordered_set<std::string_view> known;
    std::string scratch;
};

// Never destroyed: threads may read and write the environment during exit.
env_state& state()
{
    static env_state* s = new env_state();
    return *s;
}

// Zeroed memory that stays allocated until the process ends; null when
// memory runs out.
char* new_block(env_state& s, std::size_t size)
{
    auto* b = static_cast<block*>(std::calloc(1, k_header + size));
    if (b == nullptr) return nullptr;
    b->next = s.blocks;
    b->size = size;
    s.blocks = b;
    return reinterpret_cast<char*>(b) + k_header;
}

char* carve_text(env_state& s, std::size_t size)
{
    if (size > k_text_block / 4) return new_block(s, size);
    block* b = s.text_block;
    if (b == nullptr || b->size - b->used < size) {
        if (new_block(s, k_text_block) == nullptr) return nullptr;
        b = s.text_block = s.blocks;
    }
    char* text = reinterpret_cast<char*>(b) + k_header + b->used;
    b->used += size;
    return text;
}

// "NAME=value" in memory that is never freed, or null. May throw
// std::bad_alloc.
char* make_text(env_state& s, const char* name, std::size_t name_len, const char* value)
{
    s.scratch.assign(name, name_len).append(1, '=').append(value);
    auto found = s.known.find(s.scratch);
    if (found != s.known.end()) return const_cast<char*>(found->data());
    char* text = carve_text(s, s.scratch.size() + 1);
    if (text == nullptr) return nullptr;
    std::memcpy(text, s.scratch.c_str(), s.scratch.size() + 1);
    s.known.insert(std::string_view(text, s.scratch.size()));
    return text;
}

std::size_t count_entries(char** array)
{
    std::size_t n = 0;
    if (array != nullptr) {
        while (array[n] != nullptr) ++n;
    }
    return n;
}

bool holds(const env_state& s, std::size_t slot, const char* name, std::size_t name_len)
{
    if (slot >= s.count) return false;
    const char* text = s.array[slot];
    return std::strncmp(text, name, name_len) == 0 && text[name_len] == '=';
}

// Maps each name to its first slot, where getenv finds it. May throw
// std::bad_alloc.
void reindex(env_state& s)
{
    std::unordered_map<std::string, std::size_t> fresh;
    fresh.reserve(s.count);
    for (std::size_t i = 0; i < s.count; ++i) {
        const char* text = s.array[i];
        const char* eq = std::strchr(text, '=');
        if (eq == nullptr) continue;
        fresh.emplace(std::string(text, eq), i);
    }
    s.index.swap(fresh);
}

// Makes `value`, and the memory written before through it, reachable at
// `*where` for every reader (see the top of this file).
template <class T>
void publish(T* where, T value)
{
    init_tcl_once();
    pass_tcl_env_lock();
    __atomic_store_n(where, value, __ATOMIC_RELEASE);
}

// Publishes a copy of `source`, with `added` appended when not null, with
// room to grow and makes it ours. Our previous array is retired: readers
// may still be walking it.
bool publish_copy(env_state& s, char** source, char* added = nullptr)
{
    std::size_t n = count_entries(source);
    std::size_t slots = 2 * (n + 2) > k_min_slots ? 2 * (n + 2) : k_min_slots;
    auto* fresh = reinterpret_cast<char**>(new_block(s, slots * sizeof(char*)));
    if (fresh == nullptr) return false;
    if (n != 0) std::memcpy(fresh, source, n * sizeof(char*));
    if (added != nullptr) fresh[n++] = added;
    publish(&environ, fresh);
    s.array = fresh;
    s.capacity = slots;
    s.count = n;
    reindex(s);
    return true;
}

// Makes sure the published array is ours and our count and index fit it.
// Other code may have published its own array (setenv adding a name, Tcl)
// or removed entries from ours in place (unsetenv).
bool take_over(env_state& s)
{
    char** current = __atomic_load_n(&environ, __ATOMIC_ACQUIRE);
    if (current != s.array) return publish_copy(s, current);
    bool fits =
        s.count < s.capacity && s.array[s.count] == nullptr && (s.count == 0 || s.array[s.count - 1] != nullptr);
    if (!fits) {
        s.count = count_entries(s.array);
        reindex(s);
    }
    return true;
}

// REQUIRES: s.lock held. May throw std::bad_alloc, after which the index
// may not fit the array.
bool store(env_state& s, const char* name, const char* value, bool overwrite)
{
    if (!take_over(s)) return false;
    std::size_t name_len = std::strlen(name);
    std::string key(name, name_len);
    auto it = s.index.find(key);
    if (it != s.index.end() && !holds(s, it->second, name, name_len)) {
        reindex(s);
        it = s.index.find(key);
    }
    if (it != s.index.end()) {
        char* old = s.array[it->second];
        // An unchanged value keeps its text, so a reload that changes
        // nothing retires nothing.
        if (!overwrite || std::strcmp(old + name_len + 1, value) == 0) return true;
        char* text = make_text(s, name, name_len, value);
        if (text == nullptr) return false;
        publish(&s.array[it->second], text);
        return true;
    }
    char* text = make_text(s, name, name_len, value);
    if (text == nullptr) return false;
    // The slot after the new entry must already hold the terminator.
    if (s.count + 2 > s.capacity) return publish_copy(s, s.array, text);
    s.index.emplace(std::move(key), s.count);
    publish(&s.array[s.count], text);
    ++s.count;
    return true;
}

}  // namespace

// getenv's search, with acquire loads that pair with the release stores in
// publish(): a text reached through a slot is read whole.
const char* get_env(const char* name)
{
    if (name == nullptr || *name == '\0') return nullptr;
    std::size_t name_len = std::strlen(name);
    char** array = __atomic_load_n(&environ, __ATOMIC_ACQUIRE);
    if (array == nullptr) return nullptr;
    for (char** slot = array;; ++slot) {
        const char* text = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
        if (text == nullptr) return nullptr;
        if (std::strncmp(text, name, name_len) == 0 && text[name_len] == '=') return text + name_len + 1;
    }
}

bool set_env(const char* name, const char* value, bool overwrite)
{
    if (name == nullptr || *name == '\0' || value == nullptr || std::strchr(name, '=') != nullptr) return false;
    env_state& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    try {
        return store(s, name, value, overwrite);
    } catch (const std::bad_alloc&) {
        // The index may be stale: the next call takes the array over anew.
        s.array = nullptr;
        return false;
    }
}

bool put_env(const char* assignment)
{
    const char* eq = assignment != nullptr ? std::strchr(assignment, '=') : nullptr;
    if (eq == nullptr) return false;
    try {
        std::string name(assignment, eq);
        return set_env(name.c_str(), eq + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void pass_tcl_env_lock()
{
    Tcl_DString unused;
    if (TclGetEnv("", &unused) != nullptr) Tcl_DStringFree(&unused);
}

env_pause::env_pause()
{
    state().lock.lock();
}

env_pause::~env_pause()
{
    state().lock.unlock();
}

bool current_dir(char* buf, std::size_t size)
{
    return ::getcwd(buf, size) != nullptr;
}

std::string program_dir()
{
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string dir(path, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/'));
}

}  // namespace platform
}  // namespace vek
