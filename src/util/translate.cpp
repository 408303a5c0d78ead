// The exported entry point of message translation.
#include "core/core.h"
#include "object/cast_impl.h"
#include "vek/core.h"
#include "vek/util/translator.h"

#include <cstring>

namespace {

thread_local char t_language[32];

}  // namespace

void vek_set_thread_language(const char* lang)
{
    size_t n = lang != nullptr ? std::strlen(lang) : 0;
    if (n >= sizeof t_language) n = 0;
    if (n != 0) std::memcpy(t_language, lang, n);
    t_language[n] = 0;
}

const char* vek_translate(const char* msg, const char* lang)
{
    if ((lang == nullptr || *lang == 0) && t_language[0] != 0) lang = t_language;
    vek::core* core = vek::the_core();
    if (core == nullptr) return msg;
    // Called from every thread: the service is used without counting a
    // reference, which would make its count bounce between the cores, and
    // each thread keeps what it found until the service map changes.
    return core->with_services([msg, lang](const vek::service_table& services) {
        thread_local unsigned long long t_serial = 0;
        thread_local vek::i_translator* t_translator = nullptr;
        if (services.serial != t_serial) {
            t_translator = vek_cast_i_translator(services.find("svc_translator"));
            t_serial = services.serial;
        }
        return t_translator != nullptr ? t_translator->translate(msg, lang) : msg;
    });
}

VEK_DEFINE_CAST(vek::i_translator, i_translator)
