#include <cstdio>

#include <vek/vek_core.h>

int main()
{
    if (!vek_initialize()) return 1;
    vek::i_string* s = vek_create_string("installed");
    bool ok = vek_core()->register_service(s, "svc_consumer");
    s->release();
    vek_terminate();
    std::printf("%s\n", ok ? "consumer ok" : "consumer failed");
    return ok ? 0 : 1;
}
