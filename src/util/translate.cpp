// The exported entry point of message translation.
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
    vek::i_core* core = vek_core();
    vek::i_object* svc = core != nullptr ? core->get_service("svc_translator") : nullptr;
    vek::i_translator* t = vek_cast_i_translator(svc);
    const char* result = t != nullptr ? t->translate(msg, lang) : msg;
    vek_release(svc);
    return result;
}

VEK_DEFINE_CAST(vek::i_translator, i_translator)
