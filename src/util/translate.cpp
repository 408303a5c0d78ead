// The exported entry point of message translation.
#include "object/cast_impl.h"
#include "vek/core.h"
#include "vek/util/translator.h"

const char* vek_translate(const char* msg, const char* lang)
{
    vek::i_core* core = vek_core();
    vek::i_object* svc = core != nullptr ? core->get_service("svc_translator") : nullptr;
    vek::i_translator* t = vek_cast_i_translator(svc);
    const char* result = t != nullptr ? t->translate(msg, lang) : msg;
    vek_release(svc);
    return result;
}

VEK_DEFINE_CAST(vek::i_translator, i_translator)
