#include "script/script_tracking.h"

#include <vector>

#include "script/tcl_binding/runtime.h"
#include "script/thread_serial.h"
#include "vek/core.h"

namespace vek {

namespace {

thread_local script_tracking* t_current = nullptr;

}  // namespace

script_tracking::script_tracking(i_script_engine* owner)
    : m_owner(owner), m_owner_object(static_cast<i_object*>(owner)), m_owner_serial(thread_serial())
{
    t_current = this;
}

script_tracking::~script_tracking()
{
    if (t_current == this) t_current = nullptr;
}

script_tracking* script_tracking::current()
{
    return t_current;
}

bool script_tracking::is_owner() const
{
    return thread_serial() == m_owner_serial;
}

bool script_tracking::ignored(i_object* obj) const
{
    return obj == nullptr || obj == m_owner_object ||
           (vek_core() != nullptr && obj == static_cast<i_object*>(vek_core())) || !is_owner();
}

void script_tracking::reset()
{
    if (m_interp != nullptr) {
        std::vector<Tcl_Command> doomed;
        for (auto& entry : m_commands) doomed.push_back(entry.second);
        if (m_pending != nullptr) doomed.push_back(m_pending);
        m_commands.clear();
        m_command_objects.clear();
        m_pending = nullptr;
        for (Tcl_Command cmd : doomed) delete_command(cmd);
    }
    forget_all();
}

void script_tracking::forget_all()
{
    m_commands.clear();
    m_command_objects.clear();
    m_handles.clear();
    drop_all_refs();
    m_pending = nullptr;
}

// The binding's commands may live in any interpreter of this thread.
void script_tracking::delete_command(Tcl_Command cmd)
{
    Tcl_Interp* interp = tcl::interp_of(cmd);
    Tcl_DeleteCommandFromToken(interp != nullptr ? interp : m_interp, cmd);
}

void script_tracking::drop_all_refs()
{
    // Releasing may run code that touches the table: work on a copy.
    std::unordered_map<i_object*, int> refs;
    refs.swap(m_refs);
    m_tracked.store(0, std::memory_order_relaxed);
    for (auto& entry : refs) {
        for (int i = 0; i < entry.second; ++i) entry.first->release();
    }
}

void script_tracking::set_pending_command(i_object* obj, Tcl_Command cmd)
{
    // The core and the owner are never counted, so nothing would bind
    // their commands: left pending, the next counted object would take
    // them over and delete them with its own.
    if (obj != nullptr && ignored(obj)) return;
    m_pending = cmd;
}

void script_tracking::bind_pending(i_object* obj)
{
    if (m_pending != nullptr && m_interp != nullptr) {
        m_commands.emplace(obj, m_pending);
        m_command_objects[m_pending] = obj;
        m_pending = nullptr;
    }
}

int script_tracking::add_script_ref(i_object* obj, bool take)
{
    if (ignored(obj)) return 1;
    ++m_refs[obj];
    m_tracked.store(m_refs.size(), std::memory_order_relaxed);
    int result = take ? obj->addref() : 0;
    bind_pending(obj);
    return result;
}

int script_tracking::drop_script_ref(i_object* obj, bool give_back)
{
    if (ignored(obj)) return 1;
    auto it = m_refs.find(obj);
    if (it == m_refs.end()) return 0;
    if (--it->second < 1) {
        m_refs.erase(it);
        m_tracked.store(m_refs.size(), std::memory_order_relaxed);
        m_handles.forget(obj);
        if (m_interp != nullptr) {
            std::vector<Tcl_Command> doomed;
            auto range = m_commands.equal_range(obj);
            for (auto c = range.first; c != range.second; ++c) {
                doomed.push_back(c->second);
                m_command_objects.erase(c->second);
            }
            m_commands.erase(range.first, range.second);
            for (Tcl_Command cmd : doomed) delete_command(cmd);
        }
    }
    if (give_back) obj->release();
    return 0;
}

void script_tracking::bind_pending_cast(i_object* obj)
{
    if (ignored(obj)) return;
    bind_pending(obj);
}

bool script_tracking::knows(i_object* obj) const
{
    return m_refs.count(obj) != 0 || ignored(obj);
}

void script_tracking::forget_command(Tcl_Command cmd)
{
    if (m_pending == cmd) m_pending = nullptr;
    auto owner = m_command_objects.find(cmd);
    if (owner == m_command_objects.end()) return;
    auto range = m_commands.equal_range(owner->second);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == cmd) {
            m_commands.erase(it);
            break;
        }
    }
    m_command_objects.erase(owner);
}

void script_tracking::note_handle(const void* raw, const tcl::type_info* type, i_object* obj)
{
    if (raw != nullptr && is_owner()) m_handles.add(raw, type, obj);
}

void script_tracking::note_object(i_object* obj)
{
    if (obj != nullptr && is_owner()) m_handles.add_object(obj);
}

bool script_tracking::handed_out(i_object* obj) const
{
    return ignored(obj) || m_refs.count(obj) != 0 || m_handles.knows(obj);
}

void script_tracking::object_released(i_object* obj)
{
    if (!is_owner()) return;
    m_refs.erase(obj);
    m_tracked.store(m_refs.size(), std::memory_order_relaxed);
    m_handles.forget(obj);
}

}  // namespace vek
