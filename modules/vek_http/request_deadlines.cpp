#include "request_deadlines.h"

#include <sys/socket.h>

#include <new>

#include <vek/vek_core.h>

namespace vek {
namespace http {

struct request_deadlines::entry {
    size_t index = 0;
    int fd = -1;
    clock::time_point since = clock::now();
    bool answering = false;
};

request_deadlines::~request_deadlines()
{
    for (entry* e : m_entries) delete e;
}

void request_deadlines::opened(MHD_Connection* connection, void** socket_context)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    auto* e = new (std::nothrow) entry;
    if (e == nullptr || info == nullptr) {
        delete e;
        return;  // this connection goes untimed rather than refused
    }
    e->fd = info->connect_fd;
    std::lock_guard<std::mutex> hold(m_lock);
    e->index = m_entries.size();
    m_entries.push_back(e);
    *socket_context = e;
}

void request_deadlines::closed(void** socket_context)
{
    auto* e = static_cast<entry*>(*socket_context);
    if (e == nullptr) return;
    *socket_context = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_entries[e->index] = m_entries.back();
        m_entries[e->index]->index = e->index;
        m_entries.pop_back();
    }
    delete e;
}

request_deadlines::entry* request_deadlines::entry_of(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<entry*>(info->socket_context) : nullptr;
}

void request_deadlines::answering(MHD_Connection* connection)
{
    if (entry* e = entry_of(connection)) e->answering = true;
}

void request_deadlines::answered(MHD_Connection* connection)
{
    if (entry* e = entry_of(connection)) {
        e->answering = false;
        e->since = clock::now();
    }
}

void request_deadlines::sweep()
{
    const clock::time_point now = clock::now();
    if (now - m_last_sweep < std::chrono::milliseconds(250)) return;
    m_last_sweep = now;
    unsigned int ended = 0;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        for (entry* e : m_entries) {
            if (e->answering || now - e->since < m_limit) continue;
            shutdown(e->fd, SHUT_RDWR);  // the engine still owns the descriptor and closes it
            e->answering = true;         // once is enough
            ++ended;
        }
    }
    if (ended > 0)
        vek_log(1, "vek_http: closed %u connection(s) that sent no whole request in %lld s", ended,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(m_limit).count()));
}

}  // namespace http
}  // namespace vek
