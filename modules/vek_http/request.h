// One HTTP request as a handler sees it, and the answer it builds.
//
// Thread safety: one thread (the worker serving the request).
#ifndef VEK_HTTP_REQUEST_H
#define VEK_HTTP_REQUEST_H

#include <microhttpd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "router.h"
#include "vek/http.h"

namespace vek {
namespace http {

class request : public http_request {
public:
    request(MHD_Connection* connection, const char* method, const char* path, std::string body);
    ~request();
    request(const request&) = delete;
    request& operator=(const request&) = delete;

    const char* method() override { return m_method.c_str(); }
    const char* path() override { return m_path.c_str(); }
    const char* header(const char* name) override;
    const char* query(const char* name) override;
    const char* cookie(const char* name) override;
    const char* param(const char* name) override;
    const char* form(const char* name) override;
    const char* body(std::size_t* size) override;
    const char* language() override;
    void set_header(const char* name, const char* value) override;
    void respond(unsigned int status, const char* body, std::size_t size, const char* content_type) override;
    void redirect(const char* location, unsigned int status) override;
    // As respond() above, taking the body over instead of copying it.
    void respond(unsigned int status, std::string&& body, const char* content_type);

    // Every value of one kind (MHD_HEADER_KIND, MHD_GET_ARGUMENT_KIND,
    // MHD_COOKIE_KIND), in the order received.
    std::vector<std::pair<std::string, std::string>> all(MHD_ValueKind kind);
    // The form's fields in order (empty unless the body is a form).
    const std::vector<std::pair<std::string, std::string>>& form_fields();
    params& route_values() { return m_params; }

    bool answered() const { return m_status != 0; }
    unsigned int status() const { return m_status; }
    unsigned long long answer_size() const { return m_answer_size; }
    // Answers with `size` bytes of the open file `fd` from `offset`; the
    // request owns `fd` from here on.
    void respond_file(unsigned int status, int fd, unsigned long long offset, unsigned long long size,
                      const char* content_type);
    // Drops what the handler answered and answers 500.
    void fail();
    // Sends the answer (a 500 when there is none). MHD_NO when it failed.
    MHD_Result send();

private:
    MHD_Connection* m_connection;
    std::string m_method, m_path, m_body, m_language;
    bool m_language_read = false, m_form_read = false;
    params m_params;
    std::vector<std::pair<std::string, std::string>> m_form;
    unsigned int m_status = 0;
    std::string m_answer;
    std::vector<std::pair<std::string, std::string>> m_headers;
    int m_fd = -1;  // a file answer
    unsigned long long m_file_offset = 0, m_file_size = 0;
    unsigned long long m_answer_size = 0;  // of the body or the file part
};

// The language tag with the highest weight in an Accept-Language value,
// its primary part in lower case ("de" for "de-CH;q=0.9"); "" for none.
std::string preferred_language(const char* accept_language);

// Splits an "a=1&b=2" text into decoded pairs ('+' is a space).
std::vector<std::pair<std::string, std::string>> decode_form(const std::string& text);

}  // namespace http
}  // namespace vek

#endif
