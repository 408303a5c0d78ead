#include "util/string_proc.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "object/interface_query.h"
#include "platform/env.h"

namespace vek {

namespace {

using heap_text = std::unique_ptr<char, decltype(&std::free)>;

bool is_name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Heap text: caller frees with free(). Null when memory runs out.
char* heap_copy(const char* text, std::size_t size)
{
    char* block = static_cast<char*>(std::malloc(size + 1));
    if (block == nullptr) return nullptr;
    std::memcpy(block, text, size);
    block[size] = '\0';
    return block;
}

}  // namespace

string_proc::string_proc() : m_globals(new (std::nothrow) object_col_x())
{
    set_name("string_service");
    if (m_globals != nullptr) m_globals->addref();
}

string_proc::~string_proc()
{
    if (m_globals != nullptr) m_globals->release();
}

bool string_proc::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_string_proc")) return answer(pp_obj, static_cast<i_string_proc*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    return object::get_interface(iface_name, pp_obj);
}

i_object_col_x* string_proc::get_global_var_substs()
{
    if (m_globals == nullptr) return nullptr;
    m_globals->addref();
    return m_globals;
}

char* string_proc::lookup(const char* name, i_var_subst* var_subst, i_object_col* globals)
{
    if (var_subst != nullptr) {
        char* value = var_subst->get_variable_value(name);
        if (value != nullptr) return value;
    }
    unsigned int count = globals != nullptr ? globals->get_count() : 0;
    for (unsigned int pos = 0; pos < count; ++pos) {
        i_object* item = globals->get_item_by_pos(pos);
        i_var_subst* subst = vek_cast_i_var_subst(item);
        char* value = subst != nullptr ? subst->get_variable_value(name) : nullptr;
        if (item != nullptr) item->release();
        if (value != nullptr) return value;
    }
    const char* env = platform::get_env(name);
    return env != nullptr ? heap_copy(env, std::strlen(env)) : nullptr;
}

char* string_proc::process(const char* src, i_var_subst* var_subst)
{
    if (src == nullptr) return nullptr;
    const char* dollar = std::strchr(src, '$');
    if (dollar == nullptr) return heap_copy(src, std::strlen(src));

    // The call works on a snapshot of the global substitutors: no lock is
    // held while a substitutor runs, and one removed meanwhile stays alive
    // until the call ends.
    object_col* globals = nullptr;
    if (m_globals != nullptr && m_globals->get_count() > 0) globals = m_globals->copy();
    char* result;
    try {
        result = expand(src, dollar, var_subst, globals);
    } catch (const std::bad_alloc&) {
        result = nullptr;
    }
    if (globals != nullptr) globals->release();
    return result;
}

char* string_proc::expand(const char* src, const char* dollar, i_var_subst* var_subst, i_object_col* globals)
{
    std::string out;
    std::string name;
    const char* copied = src;
    // Each character is scanned a bounded number of times and values are
    // appended without being looked at again, so the work is linear.
    while (dollar != nullptr) {
        const char* ref_end;
        if (dollar[1] == '{') {
            const char* close = std::strchr(dollar + 2, '}');
            if (close == nullptr) break;
            name.assign(dollar + 2, close);
            ref_end = close + 1;
        } else if (is_name_char(dollar[1])) {
            ref_end = dollar + 1;
            while (is_name_char(*ref_end)) ++ref_end;
            name.assign(dollar + 1, ref_end);
        } else {
            break;
        }
        out.append(copied, dollar);
        heap_text value(lookup(name.c_str(), var_subst, globals), &std::free);
        if (value != nullptr) out += value.get();
        copied = ref_end;
        dollar = std::strchr(copied, '$');
    }
    // Whatever follows the last reference, or a reference that cannot be
    // read, goes out unchanged.
    out += copied;
    return heap_copy(out.data(), out.size());
}

}  // namespace vek
