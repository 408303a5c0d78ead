// A host program built against the installed library: it brings the library
// up, registers a service and takes it down again.
#include <vek/vek_core.h>

int main()
{
    vek::i_string* s = vek_initialize() ? vek_create_string("installed") : nullptr;
    bool ok = s != nullptr && vek_core()->register_service(s, "svc_consumer");
    vek_release(s);
    vek_terminate();
    return ok ? 0 : 1;
}
