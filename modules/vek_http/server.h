// The HTTP server: the service "svc_http". It listens on one socket and
// serves it from worker threads of its own (Tcl threads made through
// thread_creator), each driving one libmicrohttpd daemon in external-poll
// mode, so every handler runs on a thread that may use a script engine.
//
// Each worker keeps its script engine from "svc_script" between requests
// (init files run once per engine, not once per request). A handler's
// error gives its engine back, so the next request gets a rebuilt one; so
// does a change of the Tcl side (vek_http::handlers), so that workers see
// files added after they started.
//
// Shutdown: the core clears its running flag before it releases services;
// each worker sees that within 100 ms, ends its loop and gives its engine
// back. The destructor waits for the workers, then stops the daemons,
// closing open connections.
//
// In the live status it is <http>: address, port, workers, requests
// answered and connections open, with a <worker> child per worker thread
// giving its own two counts.
//
// Thread safety: safe for concurrent use.
#ifndef VEK_HTTP_SERVER_H
#define VEK_HTTP_SERVER_H

#include <microhttpd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <vek/vek_core.h>

#include "http_config.h"
#include "request_deadlines.h"
#include "router.h"

namespace vek {
namespace http {

class request;
struct static_dir;
struct upload;

// The request the calling worker thread is answering (set around a Tcl
// handler's call), or null.
request* current_request();

class server : public object, public thread_creator, public virtual i_status_source {
public:
    // Starts a server and registers it as "svc_http". False (with a log
    // line naming the cause) when it cannot listen or start its threads.
    static bool start(const http_config& config);
    // New reference: caller releases. The registered server, or null.
    static server* find();

    router& routes() { return m_routes; }
    // Serves `directory` below `prefix` (GET and HEAD). False when the
    // prefix does not start with '/' or the directory does not exist.
    bool add_static(const std::string& prefix, const std::string& directory);
    // Workers give their engines back before the next request.
    void renew_engines() { ++m_generation; }
    unsigned long long requests() const { return m_requests.load(); }
    unsigned int connections() const { return m_connections.load(); }
    // The <http> element of the live status.
    void add_status(i_xml_node* status) override;

private:
    explicit server(const http_config& config);
    ~server() override;
    // One engine daemon and what its worker keeps of it.
    struct daemon_slot {
        daemon_slot(server* s, unsigned int request_timeout) : owner(s), deadlines(request_timeout) {}
        server* owner;
        MHD_Daemon* daemon = nullptr;
        request_deadlines deadlines;
        std::atomic<unsigned int> connections{0};
        std::atomic<unsigned long long> requests{0};
    };

    bool listen();
    void worker(void* slot);

    static MHD_Result on_request(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                 const char* version, const char* upload_data, size_t* upload_data_size,
                                 void** con_cls);
    static void on_completed(void* cls, MHD_Connection* connection, void** con_cls, MHD_RequestTerminationCode);
    static void on_connection(void* cls, MHD_Connection* connection, void** socket_context,
                              MHD_ConnectionNotificationCode code);
    bool get_interface(const char* iface_name, void** pp_obj) override;
    MHD_Result answer(MHD_Connection* connection, const char* url, const char* method, upload* body);
    void dispatch(const handler& h, request* req);
    void run_tcl(const std::string& command, request* req);

    http_config m_config;
    router m_routes;
    std::vector<std::unique_ptr<daemon_slot>> m_slots;
    std::mutex m_static_lock;
    std::vector<std::unique_ptr<static_dir>> m_static;  // GUARDED_BY(m_static_lock)
    std::atomic<unsigned int> m_generation{0};
    std::atomic<unsigned long long> m_requests{0};
    std::atomic<unsigned int> m_connections{0};
};

}  // namespace http
}  // namespace vek

#endif
