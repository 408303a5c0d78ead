// A minimal host program: brings the library up, registers a service of its
// own, looks it up, lists the services, traces, and shuts everything down.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vek/vek_core.h>

namespace {

// A service is any object; this one carries a name so listings show it.
class greeter : public vek::object, public vek::i_named_object_impl {
public:
    greeter() { set_name("demo greeter"); }
    ~greeter() override { vek_trace("greeter: destroyed"); }

    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_named_object") == 0) {
            *pp_obj = static_cast<vek::i_named_object*>(this);
            return true;
        }
        return object::get_interface(iface_name, pp_obj);
    }
};

void list_services()
{
    vek::i_object_col* services = vek_core()->get_services();
    vek_trace("demo: %u service(s) registered", services->get_count());
    for (unsigned int i = 0; i < services->get_count(); ++i) {
        vek::i_object* svc = services->get_item_by_pos(i);
        vek::i_named_object* named = vek_cast_i_named_object(svc);
        vek_trace("demo:   #%u %s", i, named != nullptr ? named->get_name() : "(unnamed)");
        vek_release(svc);
    }
    services->release();
}

}  // namespace

int main()
{
    if (!vek_initialize()) {
        std::fprintf(stderr, "demo_host: vek_initialize failed\n");
        return 1;
    }
    vek_trace("demo: library %s %s initialised, root %s", vek_library_name(), vek_library_version(),
              std::getenv("VEK_ROOT_PATH"));

    // The core's map takes the only reference of the new object.
    if (!vek_core()->register_service(new greeter(), "svc_demo_greeter")) {
        std::fprintf(stderr, "demo_host: could not register the service\n");
        vek_terminate();
        return 1;
    }
    vek::i_object* svc = vek_core()->get_service("svc_demo_greeter");
    vek_trace("demo: found svc_demo_greeter: %s", svc != nullptr ? "yes" : "no");
    vek_release(svc);

    list_services();
    vek_terminate();
    return 0;
}
