// A module for the Tcl package's tests: its entry registers the service
// "tcltest_factory", which makes the objects scripts cannot make through
// the package itself. create_instance takes a string naming the kind:
// "udp" (a udp_conn holding "ping"), "event" (type "TCLTEST_EVT", id 7, the
// factory as its object), "writer", "reader" (over two blocks: type 1 "hi",
// type 2 "abc"), "subst" (a substitutor standing for the factory: part of
// it, counted with it). The
// factory is also a variable source (get_variable_value gives "<NAME>!")
// and an event handler. Every object made here counts itself; the service
// "tcltest_factory" reports the count through get_name.
#include <netinet/in.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vek/vek_core.h>

#define MOD_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<int> g_live{0};

template <class T>
struct counted : T {
    template <class... A>
    explicit counted(A... a) : T(a...)
    {
        ++g_live;
    }
    ~counted() override { --g_live; }
};

const unsigned char k_blocks[] = {0, 1, 0, 0, 0, 2, 'h', 'i', 0, 2, 0, 0, 0, 3, 'a', 'b', 'c'};

// Stands for its factory before scripts and shares its count, so the
// references scripts take through it are the factory's.
class proxy : public virtual vek::i_script_object_subsitutor {
public:
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

private:
    vek::i_object* m_owner;
};

class factory : public vek::object,
                public virtual vek::i_object_factory,
                public virtual vek::i_var_subst,
                public virtual vek::i_named_object {
public:
    vek::i_object* create_instance(vek::i_object* conf) override
    {
        vek::i_string* s = vek_cast_i_string(conf);
        std::string kind = s != nullptr ? s->get_value() : "";
        sockaddr_in addr{AF_INET, htons(9), {htonl(INADDR_LOOPBACK)}, {}};
        vek::i_object* made = nullptr;
        if (kind == "udp") {
            made = new counted<vek::udp_conn>("127.0.0.1", 9, 0, &addr, sizeof addr, "ping", 4);
        } else if (kind == "event") {
            made = new counted<vek::event>("TCLTEST_EVT", 7LL, this);
        } else if (kind == "writer") {
            made = new counted<vek::binary_data_writer>();
        } else if (kind == "reader") {
            made = new counted<vek::binary_data_reader>(k_blocks, sizeof k_blocks);
        } else if (kind == "subst") {
            made = &m_proxy;
        }
        if (made != nullptr) made->addref();
        return made;
    }
    char* get_variable_value(const char* name) override { return strdup((std::string(name) + "!").c_str()); }
    const char* get_name() override { return (m_name = std::to_string(g_live.load())).c_str(); }
    bool set_name(const char*) override { return false; }
    bool get_interface(const char* name, void** pp) override
    {
        void* p = nullptr;
        if (std::strcmp(name, "i_object_factory") == 0) p = static_cast<vek::i_object_factory*>(this);
        if (std::strcmp(name, "i_var_subst") == 0) p = static_cast<vek::i_var_subst*>(this);
        if (std::strcmp(name, "i_named_object") == 0) p = static_cast<vek::i_named_object*>(this);
        if (std::strcmp(name, "i_event_handler") == 0) p = static_cast<vek::i_event_handler*>(this);
        if (p == nullptr) return object::get_interface(name, pp);
        if (pp != nullptr) *pp = p;
        return true;
    }

private:
    std::string m_name;
    proxy m_proxy{static_cast<vek::object*>(this)};
};

}  // namespace

MOD_EXPORT void vek_library_entry()
{
    vek_core()->register_service(new factory, "tcltest_factory");
}

MOD_EXPORT bool vek_library_initialized()
{
    return true;
}

MOD_EXPORT const char* vek_library_name()
{
    return "tcltest_objects";
}

MOD_EXPORT const char* vek_library_version()
{
    return "1.0";
}
