// A module for the Tcl package's tests: its entry registers the service
// "tcltest_factory", which makes the objects scripts cannot make through
// the package itself. create_instance takes a string naming the kind:
// "udp" (a udp_conn holding "ping"), "event" (type "TCLTEST_EVT", id 7, the
// factory as its object), "writer", "reader" (over two blocks: type 1 "hi",
// type 2 "abc"), "subst" (a substitutor standing for the factory: part of
// it, counted with it). The
// factory is also a variable source (get_variable_value gives "<NAME>!")
// and an event handler. Every object made here counts itself; the service
// "tcltest_factory" reports the count as its id.
#include <netinet/in.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vek/module.h>
#include <vek/vek_core.h>

namespace {

std::atomic<int> g_live{0};

template <class T>
struct counted : T {
    using T::T;
    ~counted() override { --g_live; }
    int m_counted = ++g_live;  // once the base is built
};

const unsigned char k_blocks[] = {0, 1, 0, 0, 0, 2, 'h', 'i', 0, 2, 0, 0, 0, 3, 'a', 'b', 'c'};

// Stands for its factory before scripts and shares its count, so the
// references scripts take through it are the factory's.
struct proxy : virtual vek::i_script_object_subsitutor {
    vek::i_object* m_owner;
    explicit proxy(vek::i_object* owner) : m_owner(owner) {}
    int addref() override { return m_owner->addref(); }
    int release() override { return m_owner->release(); }
    bool get_interface(const char* name, void** pp) override
    {
        if (std::strcmp(name, "i_script_object_subsitutor") != 0) return m_owner->get_interface(name, pp);
        if (pp != nullptr) *pp = static_cast<vek::i_script_object_subsitutor*>(this);
        return true;
    }
    vek::i_object* get_object_pointer() override { return m_owner->addref(), m_owner; }
};

struct factory : vek::object, virtual vek::i_object_factory, virtual vek::i_var_subst, virtual vek::i_typed_object {
    vek::i_object* create_instance(vek::i_object* conf) override
    {
        vek::i_string* s = vek_cast_i_string(conf);
        std::string kind = s != nullptr ? s->get_value() : "";
        sockaddr_in addr{AF_INET, htons(9), {htonl(INADDR_LOOPBACK)}, {}};
        vek::i_object* made = nullptr;
        if (kind == "udp") made = new counted<vek::udp_conn>("127.0.0.1", 9, 0, &addr, sizeof addr, "ping", 4);
        if (kind == "event") made = new counted<vek::event>("TCLTEST_EVT", 7LL, this);
        if (kind == "writer") made = new counted<vek::binary_data_writer>();
        if (kind == "reader") made = new counted<vek::binary_data_reader>(k_blocks, sizeof k_blocks);
        if (kind == "subst") made = &m_proxy;
        if (made != nullptr) made->addref();
        return made;
    }
    char* get_variable_value(const char* name) override { return strdup((std::string(name) + "!").c_str()); }
    long long get_id() override { return g_live; }
    bool get_interface(const char* name, void** pp) override
    {
        void* p = nullptr;
        if (std::strcmp(name, "i_object_factory") == 0) p = static_cast<vek::i_object_factory*>(this);
        if (std::strcmp(name, "i_var_subst") == 0) p = static_cast<vek::i_var_subst*>(this);
        if (std::strcmp(name, "i_typed_object") == 0) p = static_cast<vek::i_typed_object*>(this);
        if (std::strcmp(name, "i_event_handler") == 0) p = static_cast<vek::i_event_handler*>(this);
        if (p == nullptr) return object::get_interface(name, pp);
        if (pp != nullptr) *pp = p;
        return true;
    }

    proxy m_proxy{static_cast<vek::object*>(this)};
};

}  // namespace

VEK_MODULE_EXPORT void vek_library_entry()
{
    vek_core()->register_service(new factory, "tcltest_factory");
}

VEK_MODULE_EXPORT bool vek_library_initialized()
{
    return true;
}
