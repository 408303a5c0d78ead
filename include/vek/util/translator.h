// Message translation: the service "svc_translator" and vek_translate.
//
// The translator maps message texts to their translations for a language.
// Translations come from catalogue files "<search path>/<language>/
// <catalogue>.lng" (msgid/msgstr pairs in the gettext manner). Callers name
// the catalogues (add_catalog) and the search paths (add_search_path; the
// library adds "${VEK_ROOT_PATH}/i18n" and "${VEK_TRANSLATION_PATH}" when it
// loads itself); languages are the directory names found under the search
// paths and are published, joined with ",", in "VEK_I18N_LANGS". About every
// six seconds the background task rescans: new files are loaded, files with
// a newer modification time are reloaded (their pairs merged over the old
// ones), and a file found missing is ignored from that rescan on and
// forgotten at a later one. For one language the catalogues are searched in
// the order their files were first loaded, which follows catalogue names,
// then languages, then search paths, each in the order they were added.
//
// Thread safety: i_translator is safe for concurrent use; translate never
// waits for a file to be read.
#ifndef VEK_UTIL_TRANSLATOR_H
#define VEK_UTIL_TRANSLATOR_H

#include "vek/export.h"
#include "vek/object/base.h"

namespace vek {

// Named "translator".
class VEK_API i_translator : public virtual i_named_object {
public:
    // The translation of `msg` in `language` ("": the current language),
    // or `msg` itself when no loaded catalogue has it; "" when either
    // argument is null. A translation is owned by the translator and stays
    // valid until it is destroyed, even after its catalogue changes.
    virtual const char* translate(const char* msg, const char* language = "") = 0;
    // Makes a non-empty `language` the current one ("en" at first).
    virtual void set_language(const char* language) = 0;
    // Adds a catalogue name and loads its files at once; a known name does
    // nothing.
    virtual void add_catalog(const char* catalog) = 0;
    // Adds a directory (made absolute, ${NAME} references expanded); the
    // next rescan looks there.
    virtual void add_search_path(const char* path) = 0;

protected:
    ~i_translator() = default;
};

}  // namespace vek

// The "svc_translator" service's translate(msg, lang); `msg` itself without
// that service. Owned as translate says (or the caller's own `msg`). An
// empty `lang` means the calling thread's language when one is set (see
// below), else the translator's.
VEK_API const char* vek_translate(const char* msg, const char* lang);

// Sets the language vek_translate takes for an empty one in the calling
// thread (a server sets the language of the request it answers); null or
// "" clears it. Names longer than 31 bytes clear it too.
VEK_API void vek_set_thread_language(const char* lang);

// No reference added.
VEK_API vek::i_translator* vek_cast_i_translator(vek::i_object* obj);

#endif
