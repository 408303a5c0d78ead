#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "request.h"
#include "static_files.h"

namespace vek {
namespace http {

// What a connection's current request has received so far.
struct upload {
    std::string body;
    bool too_large = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

namespace {

// One worker thread's engine, kept between requests.
struct worker_state {
    std::atomic<unsigned long long>* requests = nullptr;  // the worker's own count
    i_script_service* scripts = nullptr;
    i_script_engine* engine = nullptr;
    unsigned int generation = 0;
};

thread_local worker_state* t_worker = nullptr;
thread_local request* t_current = nullptr;
// The last message the HTTP engine logged on this thread.
thread_local std::string t_last_message;

void log_engine_message(void*, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = 0;
    t_last_message = text;
    vek_trace("vek_http: %s", text);
}

std::string client_of(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = "-";
    if (info != nullptr && info->client_addr != nullptr) {
        const sockaddr* a = info->client_addr;
        const void* raw = a->sa_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr)
                              : &reinterpret_cast<const sockaddr_in*>(a)->sin_addr;
        inet_ntop(a->sa_family, raw, text, sizeof text);
    }
    return text;
}

}  // namespace

request* current_request()
{
    return t_current;
}

server::server(const http_config& config) : m_config(config) {}

server::~server()
{
    if (!stop_threads(5)) {
        // A handler is still running in a daemon: leave the daemons be.
        vek_log(0, "vek_http: %u worker(s) did not end in time", get_threads_count());
        return;
    }
    for (size_t i = 1; i < m_slots.size(); ++i) MHD_quiesce_daemon(m_slots[i]->daemon);  // daemon 0 owns the socket
    for (auto& slot : m_slots) MHD_stop_daemon(slot->daemon);
}

bool server::get_interface(const char* iface_name, void** pp_obj)
{
    if (iface_name != nullptr && std::strcmp(iface_name, "vek_http_server") == 0) {
        *pp_obj = this;
        return true;
    }
    if (iface_name != nullptr && std::strcmp(iface_name, "i_status_source") == 0) {
        *pp_obj = static_cast<i_status_source*>(this);
        return true;
    }
    return object::get_interface(iface_name, pp_obj);
}

void server::add_status(i_xml_node* status)
{
    i_core* core = vek_core();
    auto_ptr_t<i_object> svc = core != nullptr ? core->get_service("svc_xml") : nullptr;
    i_xml_proc* xml = vek_cast_i_xml_proc(svc);
    auto_ptr_t<i_xml_node> http = xml != nullptr ? xml->create_node("http") : nullptr;
    if (!http.is_ok() || !status->add_child(http)) return;
    const std::pair<const char*, std::string> values[] = {{"address", m_config.address},
                                                          {"port", std::to_string(m_config.port)},
                                                          {"workers", std::to_string(get_threads_count())},
                                                          {"requests", std::to_string(m_requests.load())},
                                                          {"connections", std::to_string(m_connections.load())}};
    for (const auto& [name, value] : values) http->set_attribute(name, value.c_str());
    for (const auto& slot : m_slots) {
        auto_ptr_t<i_xml_node> worker = xml->create_node("worker");
        if (!worker.is_ok() || !http->add_child(worker)) return;
        worker->set_attribute("connections", std::to_string(slot->connections.load()).c_str());
        worker->set_attribute("requests", std::to_string(slot->requests.load()).c_str());
    }
}

server* server::find()
{
    i_core* core = vek_core();
    i_object* svc = core != nullptr ? core->get_service("svc_http") : nullptr;
    void* found = nullptr;
    if (svc == nullptr || !svc->get_interface("vek_http_server", &found)) {
        vek_release(svc);
        return nullptr;
    }
    return static_cast<server*>(found);  // holds the service's reference
}

bool server::listen()
{
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    unsigned int flags = MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
    const sockaddr* address = reinterpret_cast<sockaddr*>(&v4);
    if (inet_pton(AF_INET, m_config.address.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(m_config.port));
    } else if (inet_pton(AF_INET6, m_config.address.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(m_config.port));
        address = reinterpret_cast<sockaddr*>(&v6);
        flags |= MHD_USE_IPv6;
    } else {
        vek_log(0, "vek_http: VEK_HTTP_ADDRESS='%s' is not an IP address", m_config.address.c_str());
        return false;
    }
    unsigned int per_daemon = m_config.max_connections / m_config.threads;
    MHD_socket socket = MHD_INVALID_SOCKET;
    for (unsigned int i = 0; i < m_config.threads; ++i) {
        auto slot = std::make_unique<daemon_slot>(this, m_config.request_timeout);
        // The first daemon binds; the others accept on its socket.
        MHD_OptionItem options[] = {
            // The logger first, or the engine's earlier messages go to stderr.
            {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&log_engine_message), nullptr},
            {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(m_config.max_header), nullptr},
            {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(per_daemon > 0 ? per_daemon : 1), nullptr},
            {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(m_config.idle_timeout), nullptr},
            {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&on_completed), this},
            {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&on_connection), slot.get()},
            i == 0 ? MHD_OptionItem{MHD_OPTION_SOCK_ADDR, 0, const_cast<sockaddr*>(address)}
                   : MHD_OptionItem{MHD_OPTION_LISTEN_SOCKET, static_cast<intptr_t>(socket), nullptr},
            {MHD_OPTION_END, 0, nullptr}};
        t_last_message.clear();
        MHD_Daemon* d = MHD_start_daemon(flags, static_cast<uint16_t>(m_config.port), nullptr, nullptr, &on_request,
                                         this, MHD_OPTION_ARRAY, options, MHD_OPTION_END);
        if (d == nullptr) {
            vek_log(0, "vek_http: cannot listen on %s:%u: %s", m_config.address.c_str(), m_config.port,
                    t_last_message.empty() ? "the HTTP engine refused its settings" : t_last_message.c_str());
            return false;
        }
        slot->daemon = d;
        m_slots.push_back(std::move(slot));
        if (i == 0) socket = MHD_get_daemon_info(d, MHD_DAEMON_INFO_LISTEN_FD)->listen_fd;
    }
    return true;
}

bool server::start(const http_config& config)
{
    auto* s = new (std::nothrow) server(config);
    if (s == nullptr) return false;
    s->addref();
    bool ok = s->listen();
    for (size_t i = 0; ok && i < s->m_slots.size(); ++i) {
        ok = s->create_thread(s, static_cast<thread_function>(&server::worker), s->m_slots[i].get());
        if (!ok) vek_log(0, "vek_http: cannot start its worker threads");
    }
    i_core* core = vek_core();
    if (ok && (core == nullptr || !core->register_service(s, "svc_http"))) {
        vek_log(0, "vek_http: cannot register the service svc_http");
        ok = false;
    }
    if (ok)
        vek_trace("vek_http: listening on %s:%u with %u thread(s)", config.address.c_str(), config.port,
                  config.threads);
    s->release();
    return ok;
}

bool server::add_static(const std::string& prefix, const std::string& directory)
{
    char resolved[PATH_MAX];
    struct stat st {};
    if (prefix.empty() || prefix[0] != '/' || realpath(directory.c_str(), resolved) == nullptr ||
        stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    auto dir = std::make_unique<static_dir>();
    dir->prefix = prefix.back() == '/' ? prefix : prefix + "/";
    dir->root = resolved;
    dir->root_fd = open(resolved, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir->root_fd < 0) return false;
    const std::string pattern = dir->prefix + "*";
    handler h;
    h.function = answer_static;
    h.context = dir.get();
    std::lock_guard<std::mutex> hold(m_static_lock);
    m_static.push_back(std::move(dir));  // kept while the server is: routes point at it
    return m_routes.add("GET", pattern, h) && m_routes.add("HEAD", pattern, h);
}

void server::worker(void* arg)
{
    auto* slot = static_cast<daemon_slot*>(arg);
    vek_set_thread_role("http worker");
    worker_state state;
    state.requests = &slot->requests;
    i_core* core = vek_core();
    state.scripts = vek_cast_i_script_service(core != nullptr ? core->get_service("svc_script") : nullptr);
    t_worker = &state;
    while (thread_running() && vek_is_running()) {
        MHD_run_wait(slot->daemon, 100);
        slot->deadlines.sweep();
    }
    t_worker = nullptr;
    vek_release(state.engine);
    vek_release(state.scripts);
}

void server::on_connection(void* cls, MHD_Connection* connection, void** socket_context,
                           MHD_ConnectionNotificationCode code)
{
    auto* slot = static_cast<daemon_slot*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        ++slot->owner->m_connections;
        ++slot->connections;
        slot->deadlines.opened(connection, socket_context);
    } else {
        --slot->owner->m_connections;
        --slot->connections;
        slot->deadlines.closed(socket_context);
    }
}

void server::on_completed(void*, MHD_Connection* connection, void** con_cls, MHD_RequestTerminationCode)
{
    request_deadlines::answered(connection);
    delete static_cast<upload*>(*con_cls);
    *con_cls = nullptr;
}

MHD_Result server::on_request(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                              const char* upload_data, size_t* upload_data_size, void** con_cls)
{
    auto* self = static_cast<server*>(cls);
    auto* up = static_cast<upload*>(*con_cls);
    if (up == nullptr) {
        // The headers are in: remember the request and ask for its body.
        up = new (std::nothrow) upload();
        if (up == nullptr) return MHD_NO;
        *con_cls = up;
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length != nullptr && std::strtoull(length, nullptr, 10) > self->m_config.max_body) {
            up->too_large = true;  // answered before the body is read; the connection then closes
            return self->answer(connection, url, method, up);
        }
        return MHD_YES;
    }
    if (*upload_data_size != 0) {
        if (!up->too_large && up->body.size() + *upload_data_size <= self->m_config.max_body) {
            up->body.append(upload_data, *upload_data_size);
        } else {
            up->too_large = true;
            up->body.clear();
        }
        *upload_data_size = 0;
        return MHD_YES;
    }
    return self->answer(connection, url, method, up);
}

MHD_Result server::answer(MHD_Connection* connection, const char* url, const char* method, upload* up)
{
    request_deadlines::answering(connection);
    request req(connection, method, url, std::move(up->body));
    handler h;
    std::string allow;
    if (up->too_large) {
        req.respond(413, "Content Too Large\n", 18, "text/plain; charset=utf-8");
    } else {
        switch (m_routes.find(req.method(), req.path(), &h, &req.route_values(), &allow)) {
            case router::no_route:
                req.respond(404, "Not Found\n", 10, "text/plain; charset=utf-8");
                break;
            case router::wrong_method:
                req.respond(405, "Method Not Allowed\n", 19, "text/plain; charset=utf-8");
                req.set_header(MHD_HTTP_HEADER_ALLOW, allow.c_str());
                break;
            case router::found:
                dispatch(h, &req);
                break;
        }
    }
    MHD_Result sent = req.send();
    ++m_requests;
    if (t_worker != nullptr) ++*t_worker->requests;
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - up->start).count();
    vek_log(1, "vek_http: %s \"%s %s\" %u %llu %.1fms", client_of(connection).c_str(), req.method(), req.path(),
            req.status(), req.answer_size(), ms);
    return sent;
}

void server::dispatch(const handler& h, request* req)
{
    // vek_translate without a language answers in the request's.
    vek_set_thread_language(req->language());
    if (h.function == nullptr) {
        run_tcl(h.command, req);
        vek_set_thread_language(nullptr);
        return;
    }
    bool ok = false;
    try {
        ok = h.function(req, h.context);
    } catch (const std::exception& e) {
        vek_log(0, "vek_http: %s %s: the handler threw: %s", req->method(), req->path(), e.what());
    } catch (...) {
        vek_log(0, "vek_http: %s %s: the handler threw", req->method(), req->path());
    }
    vek_set_thread_language(nullptr);
    if (!ok || !req->answered()) {
        if (ok) vek_log(0, "vek_http: %s %s: the handler answered nothing", req->method(), req->path());
        req->fail();
    }
}

void server::run_tcl(const std::string& command, request* req)
{
    worker_state* w = t_worker;
    if (w != nullptr && w->engine != nullptr && w->generation != m_generation) {
        w->engine->release();  // rebuilt with the files added since
        w->engine = nullptr;
    }
    if (w != nullptr && w->engine == nullptr && w->scripts != nullptr) {
        w->generation = m_generation;
        w->engine = w->scripts->get_script_engine();
    }
    if (w == nullptr || w->engine == nullptr) {
        vek_log(0, "vek_http: %s %s: no script engine for '%s'", req->method(), req->path(), command.c_str());
        req->fail();
        return;
    }
    t_current = req;
    bool ok = w->engine->execute_text((command + " ::vek_http::req").c_str());
    t_current = nullptr;
    if (!ok) {
        vek_log(0, "vek_http: %s %s: %s", req->method(), req->path(), w->engine->get_error());
        req->fail();
        w->engine->release();  // the error made it stale
        w->engine = nullptr;
    } else if (!req->answered()) {
        const char* result = w->engine->get_error();
        req->respond(200, result, std::strlen(result), "text/html; charset=utf-8");
    }
}

}  // namespace http
}  // namespace vek
