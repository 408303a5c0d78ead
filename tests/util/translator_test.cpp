// The catalogue reader, the translator's rescans (driven directly on a
// translator of the test's own), and the service through vek_translate,
// its load handler and the real background tick.
#include <fcntl.h>
#include <sys/stat.h>

#include "test_support.h"
#include "util/lng_reader.h"
#include "util/translator.h"

namespace fs = std::filesystem;
using pairs = std::vector<std::pair<std::string, std::string>>;

// A header entry (empty msgid) and an empty msgstr are skipped; a second
// quoted line is not joined; bytes pass as they are, NULs included; an
// unfinished string ends the file. "msgid_plural", "msgstr[0]" and the text
// of a comment are read by keyword alone.
TEST(LngReaderTest, TakesPairsByKeywordQuoteAndEscapeRules)
{
    using namespace std::string_literals;
    // clang-format off
    const std::pair<std::string, pairs> cases[] = {
        {"msgid \"\"\nmsgstr \"Content-Type: text/plain\\n\"\n\nmsgid \"a\"\nmsgstr \"\"\nmsgid \"\xff\xfe\"\n"
         "msgstr \"\xc3\"\n\"more\"\nmsgid \"d\"\nmsgstr \"e", {{"\xff\xfe", "\xc3"}}},
        {"msgid \"\\n\\r\\t\\\"\\b\\f\\v\\?\\q\\\\n\"\nmsgstr \"x\"", {{"\n\r\t\"\b\f\v?q\n", "x"}}},
        {"# msgid \"one\"\nmsgid_plural \"n\"\nmsgstr[0] \"e\"\nmsgid \"two\"\nmsgstr \"zwei\"\n", {{"one", "zwei"}}},
        {"msgid \"a\0b\"\nmsgstr \"c\"\0msgid \"d\"\nmsgstr \"e\""s, {{"a\0b"s, "c"}, {"d", "e"}}}};
    // clang-format on
    for (const auto& c : cases) {
        pairs got;
        vek::lng::parse(c.first.data(), c.first.size(),
                        [&](std::string_view id, std::string_view str) { got.emplace_back(id, str); });
        EXPECT_EQ(got, c.second) << c.first;
    }
    EXPECT_EQ(vek::lng::unescape("ab\\", 3), "ab");
    EXPECT_FALSE(vek::lng::read_file("/nonexistent/x.lng", [](std::string_view, std::string_view) {}));
}

// A core rooted in a scratch directory, catalogues under "p1" and "p2".
class TranslatorTest : public vek_test::scratch_core_test {
protected:
    // Puts the msgid/msgstr pairs in the file under the root, modified
    // `mtime` seconds after 1970.
    void put(const std::string& rel, const pairs& messages, long mtime)
    {
        std::string text;
        for (const auto& [id, str] : messages) text += "msgid \"" + id + "\"\nmsgstr \"" + str + "\"\n";
        fs::create_directories((root / rel).parent_path());
        ASSERT_TRUE(vek_write_file(rel.c_str(), text.c_str()));
        struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (root / rel).c_str(), times, 0), 0);
    }

    // A loaded library as the load events carry it.
    class fake_library : public vek::object, public vek::i_named_object_impl, public vek::i_vek_library {
    public:
        explicit fake_library(const char* name) { set_name(name); }
        const char* get_path() override { return ""; }
        const char* get_version() override { return ""; }
        void* get_handle() override { return nullptr; }
        bool get_interface(const char* iface_name, void** pp_obj) override
        {
            if (std::strcmp(iface_name, "i_vek_library") != 0) return object::get_interface(iface_name, pp_obj);
            *pp_obj = static_cast<vek::i_vek_library*>(this);
            return true;
        }
    };
};

// The translations of "a", "b" and "c" in `lang`, joined by blanks.
static std::string abc(vek::i_translator& t, const char* lang = "")
{
    return std::string(t.translate("a", lang)) + " " + t.translate("b", lang) + " " + t.translate("c", lang);
}

// Lookups search the entries of a language in search path order; rescans
// load only newer files, merged over what was loaded before.
TEST_F(TranslatorTest, SearchesInPathOrderAndRescansNewerOrVanishedFilesTracingExactly)
{
    vek_set_trace_facility("trace.txt");
    put("p1/en/app.lng", {{"a", "A1"}, {"a", "A1b"}, {"b", "B1"}}, 1000);
    put("p2/en/app.lng", {{"a", "A2"}, {"b", "B2"}}, 1000);
    put("p1/de/app.lng", {{"a", "DE1"}}, 1000);
    put("p2/de/app.lng", {{"c", "DE2"}}, 1000);
    put("p1/CVS/app.lng", {{"a", "cvs"}}, 1000);
    fs::create_directories(root / "p1/.svn");
    vek::translator t;
    EXPECT_EQ(t.translate(root.c_str()), root.c_str());  // the text itself
    EXPECT_EQ(std::string(t.translate("a", nullptr)) + t.translate(nullptr), "");
    t.add_search_path("p1");
    t.add_search_path((root / "p2").c_str());
    t.add_search_path("${VEK_ROOT_PATH}/p1");  // the same path again
    t.add_catalog("app");
    t.set_language("");  // ignored
    // A repeated msgid takes its later msgstr; CVS and .svn are no languages.
    EXPECT_EQ(abc(t) + " | " + abc(t, "de") + " | " + abc(t, "CVS"), "A1b B1 c | DE1 b DE2 | a b c");
    std::string langs = std::getenv("VEK_I18N_LANGS");
    EXPECT_TRUE(langs == "de,en" || langs == "en,de") << langs;
    t.set_language("de");
    EXPECT_EQ(abc(t), "DE1 b DE2");
    auto rescan = [&] { return t.rescan(nullptr), abc(t, "en"); };
    put("p1/en/app.lng", {{"a", "older"}}, 999);
    EXPECT_EQ(rescan(), "A1b B1 c");
    put("p1/en/app.lng", {{"a", "A1"}, {"c", "C"}}, 1001);
    EXPECT_EQ(rescan(), "A1 B1 C");
    vek_set_trace_facility("stdout");
    std::string trace = vek_test::read_text(root / "trace.txt");
    EXPECT_NE(trace.find(": translator::set_language(de)\n"), trace.npos);
    EXPECT_NE(trace.find(": translator::reload_catalog('app', '" + root.string() + "/p1/en/app.lng')\n"), trace.npos);
    EXPECT_EQ(trace.find("reload_catalog"), trace.rfind("reload_catalog"));  // add_catalog's load is silent

    // A vanished file is ignored at once; back before it is forgotten, it
    // keeps its place and its messages. Forgotten, it comes back as a new,
    // last entry.
    fs::remove(root / "p1/en/app.lng");
    EXPECT_EQ(rescan(), "A2 B2 c");
    put("p1/en/app.lng", {{"a", "A1"}}, 1001);  // unchanged: not read again
    EXPECT_EQ(rescan(), "A1 B1 C");
    fs::remove(root / "p1/en/app.lng");
    fs::remove(root / "p2/en/app.lng");
    EXPECT_EQ(rescan(), "a b c");
    EXPECT_EQ(rescan(), "a b c");  // forgets p1's entry only
    put("p1/en/app.lng", {{"a", "A1"}}, 1001);
    put("p2/en/app.lng", {{"a", "A2"}}, 1000);
    EXPECT_EQ(rescan(), "A2 B2 c");
}

// The service searches "i18n" under the root and VEK_TRANSLATION_PATH
// once the core's own load is announced, and rescans on the real tick.
TEST_F(TranslatorTest, TheServiceTakesDefaultPathsOnlyFromTheCoresLoadAndRescansOnTheTick)
{
    vek_test::env_guard env{"VEK_TRANSLATION_PATH"};
    setenv("VEK_TRANSLATION_PATH", (root / "p2").c_str(), 1);
    put("i18n/en/app.lng", {{"a", "v0"}}, 1000);
    put("p2/en/app.lng", {{"b", "B"}}, 1000);
    EXPECT_STREQ(vek_translate("a", ""), "a");  // no service yet
    vek_library_entry();
    // The handler gives back the reference the event hands it.
    auto post_load = [](const char* name) {
        auto* lib = new fake_library(name);
        lib->addref();
        vek_generate_event("VEK_CORE_EVT_POST_LOAD_LIBRARY", 0, lib, true);
        EXPECT_EQ(lib->release(), 0);
    };
    post_load("other");
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("svc_translator");
    vek::i_translator* t = vek_cast_i_translator(svc);
    t->add_catalog("app");
    EXPECT_EQ(abc(*t), "a b c");
    post_load("vek_core");
    EXPECT_TRUE(vek_test::wait_for([&] { return abc(*t) == "v0 B c"; }, 9000)) << abc(*t);
}
