#include "request.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace vek {
namespace http {

namespace {

const char* or_empty(const char* s)
{
    return s != nullptr ? s : "";
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string decode_component(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int hi = i + 2 < text.size() && text[i] == '%' ? hex_value(text[i + 1]) : -1;
        int lo = hi >= 0 ? hex_value(text[i + 2]) : -1;
        if (lo >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

void delete_body(void* body)
{
    delete static_cast<std::string*>(body);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> decode_form(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        size_t eq = item.find('=');
        if (!item.empty()) {
            fields.emplace_back(decode_component(item.substr(0, eq)),
                                eq == std::string::npos ? "" : decode_component(item.substr(eq + 1)));
        }
        start = end + 1;
    }
    return fields;
}

std::string preferred_language(const char* accept_language)
{
    std::string best;
    double best_weight = 0;
    const char* p = or_empty(accept_language);
    while (*p != 0) {
        size_t len = std::strcspn(p, ",");
        std::string item(p, len);
        p += len + (p[len] == ',' ? 1 : 0);
        size_t semi = item.find(';');
        std::string tag = item.substr(0, semi);
        tag.erase(0, tag.find_first_not_of(" \t"));
        tag.erase(tag.find_last_not_of(" \t") + 1);
        double weight = 1;
        size_t q = item.find("q=", semi == std::string::npos ? item.size() : semi);
        if (q != std::string::npos) weight = std::strtod(item.c_str() + q + 2, nullptr);
        tag = tag.substr(0, tag.find('-'));
        if (tag.empty() || tag == "*" || weight <= best_weight) continue;
        for (char& c : tag) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        best = tag;
        best_weight = weight;
    }
    return best;
}

request::request(MHD_Connection* connection, const char* method, const char* path, std::string body)
    : m_connection(connection), m_method(or_empty(method)), m_path(or_empty(path)), m_body(std::move(body))
{
}

request::~request()
{
    if (m_fd >= 0) close(m_fd);
}

const char* request::header(const char* name)
{
    return name != nullptr ? or_empty(MHD_lookup_connection_value(m_connection, MHD_HEADER_KIND, name)) : "";
}

const char* request::query(const char* name)
{
    return name != nullptr ? or_empty(MHD_lookup_connection_value(m_connection, MHD_GET_ARGUMENT_KIND, name)) : "";
}

const char* request::cookie(const char* name)
{
    return name != nullptr ? or_empty(MHD_lookup_connection_value(m_connection, MHD_COOKIE_KIND, name)) : "";
}

const char* request::param(const char* name)
{
    for (const auto& p : m_params)
        if (name != nullptr && p.first == name) return p.second.c_str();
    return "";
}

const std::vector<std::pair<std::string, std::string>>& request::form_fields()
{
    if (!m_form_read) {
        m_form_read = true;
        const char* type = header(MHD_HTTP_HEADER_CONTENT_TYPE);
        if (strncasecmp(type, "application/x-www-form-urlencoded", 33) == 0) m_form = decode_form(m_body);
    }
    return m_form;
}

const char* request::form(const char* name)
{
    for (const auto& f : form_fields())
        if (name != nullptr && f.first == name) return f.second.c_str();
    return "";
}

const char* request::body(std::size_t* size)
{
    if (size != nullptr) *size = m_body.size();
    return m_body.data();
}

const char* request::language()
{
    if (!m_language_read) {
        m_language_read = true;
        m_language = preferred_language(header(MHD_HTTP_HEADER_ACCEPT_LANGUAGE));
    }
    return m_language.c_str();
}

std::vector<std::pair<std::string, std::string>> request::all(MHD_ValueKind kind)
{
    std::vector<std::pair<std::string, std::string>> out;
    MHD_get_connection_values(
        m_connection, kind,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) {
            static_cast<std::vector<std::pair<std::string, std::string>>*>(cls)->emplace_back(or_empty(key),
                                                                                              or_empty(value));
            return MHD_YES;
        },
        &out);
    return out;
}

void request::set_header(const char* name, const char* value)
{
    if (name != nullptr && *name != 0 && value != nullptr) m_headers.emplace_back(name, value);
}

void request::respond(unsigned int status, const char* body, std::size_t size, const char* content_type)
{
    respond(status, body != nullptr ? std::string(body, size) : std::string(), content_type);
}

void request::respond(unsigned int status, std::string&& body, const char* content_type)
{
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    m_status = status >= 100 && status <= 999 ? status : 500;
    m_answer = std::move(body);
    m_answer_size = m_answer.size();
    if (content_type != nullptr && *content_type != 0) set_header(MHD_HTTP_HEADER_CONTENT_TYPE, content_type);
}

void request::redirect(const char* location, unsigned int status)
{
    respond(status >= 300 && status <= 399 ? status : 302, "", 0, nullptr);
    set_header(MHD_HTTP_HEADER_LOCATION, or_empty(location));
}

void request::respond_file(unsigned int status, int fd, unsigned long long offset, unsigned long long size,
                           const char* content_type)
{
    respond(status, "", 0, content_type);
    m_fd = fd;
    m_file_offset = offset;
    m_file_size = size;
    m_answer_size = size;
}

void request::fail()
{
    m_headers.clear();
    respond(500, "Internal Server Error\n", 22, "text/plain; charset=utf-8");
}

MHD_Result request::send()
{
    if (!answered()) fail();
    MHD_Response* response = nullptr;
    if (m_fd >= 0) {
        response = MHD_create_response_from_fd_at_offset64(m_file_size, m_fd, m_file_offset);
        if (response != nullptr) m_fd = -1;  // the response closes it
    } else {
        // The response owns the body until the engine has sent it.
        auto* body = new (std::nothrow) std::string(std::move(m_answer));
        response = body != nullptr ? MHD_create_response_from_buffer_with_free_callback_cls(
                                         body->size(), body->data(), &delete_body, body)
                                   : nullptr;
        if (response == nullptr) delete body;
    }
    if (response == nullptr) return MHD_NO;
    for (const auto& h : m_headers) MHD_add_response_header(response, h.first.c_str(), h.second.c_str());
    MHD_Result queued = MHD_queue_response(m_connection, m_status, response);
    MHD_destroy_response(response);
    return queued;
}

}  // namespace http
}  // namespace vek
