// The catalogue reader, the translator's rescans (driven directly on a
// translator of the test's own), and the service through vek_translate,
// its load handler and the real background tick.
#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>

#include "test_support.h"
#include "util/lng_reader.h"
#include "util/translator.h"

namespace fs = std::filesystem;
using pairs = std::vector<std::pair<std::string, std::string>>;

namespace {

TEST(LngReader, TakesPairsByKeywordQuoteAndEscapeRules)
{
    using namespace std::string_literals;
    const std::pair<std::string, pairs> cases[] = {
        {"msgid \"\"\nmsgstr \"Content-Type: text/plain\\n\"\n\nmsgid \"a\"\nmsgstr \"b\"\n", {{"a", "b"}}},
        {"msgid \"\\n\\r\\t\\\"\\b\\f\\v\\?\\q\\\\n\"\nmsgstr \"x\"", {{"\n\r\t\"\b\f\v?q\n", "x"}}},
        {"msgid \"a\\\\\" \"b\"\nmsgstr \"c\"", {{"a\" ", "c"}}},  // \" does not close
        {"msgid \"a\"\nmsgstr \"first\"\n\"second\"\n", {{"a", "first"}}},
        {"msgid \"one\"\nmsgid_plural \"many\"\nmsgstr[0] \"eins\"\nmsgstr[1] \"viele\"\n"
         "msgid \"two\"\nmsgstr \"zwei\"\n",
         {{"one", "zwei"}}},
        {"msgid  \"x\"\nmsgstr \"y\"\nmsgid \"k\"\nmsgstr  \"no\"\nmsgstr \"v\"", {{"k", "v"}}},
        {"# msgid \"c\" in a comment\nmsgstr \"d\"", {{"c", "d"}}},
        {"msgid \"a\"\nmsgstr \"\"\nmsgid \"b\"\nmsgstr \"c\"\nmsgid \"d\"\nmsgstr \"e", {{"b", "c"}}},
        {"msgid \"a\"\nmsgstr \"b\"\nmsgid \"a\"\nmsgstr \"c\"\nmsgid \"u", {{"a", "b"}, {"a", "c"}}},
        {"msgid \"\xff\xfe\"\nmsgstr \"\xc3\"", {{"\xff\xfe", "\xc3"}}},
        {"msgid \"a\0b\"\nmsgstr \"c\"\0msgid \"d\"\nmsgstr \"e\""s, {{"a\0b"s, "c"}, {"d", "e"}}},
    };
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
        fs::path p = root / rel, part = p.string() + ".part";
        fs::create_directories(p.parent_path());
        std::ofstream out(part, std::ios::binary);
        for (const auto& [id, str] : messages) out << "msgid \"" << id << "\"\nmsgstr \"" << str << "\"\n";
        out.close();
        struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, part.c_str(), times, 0), 0);
        fs::rename(part, p);  // a rescan never reads half a file
    }
};

// The translations of "a", "b" and "c" in `lang`, joined by blanks.
std::string abc(vek::i_translator& t, const char* lang = "")
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
    EXPECT_STREQ(t.translate("a", nullptr), "");
    EXPECT_STREQ(t.translate(nullptr), "");
    const char* msg = "a";
    EXPECT_EQ(t.translate(msg), msg);
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
    auto rescan = [&] {
        t.rescan(nullptr);
        return abc(t);
    };
    put("p2/de/app.lng", {{"c", "DE2b"}}, 1001);
    EXPECT_EQ(rescan(), "DE1 b DE2b");
    vek_set_trace_facility("stdout");
    std::string trace = vek_test::read_text(root / "trace.txt");
    EXPECT_NE(trace.find(": translator::set_language(de)\n"), std::string::npos);
    EXPECT_NE(trace.find(": translator::reload_catalog('app', '" + root.string() + "/p2/de/app.lng')\n"),
              std::string::npos);
    EXPECT_EQ(trace.find("reload_catalog"), trace.rfind("reload_catalog"));  // add_catalog's load is silent

    t.set_language("en");
    const char* old = t.translate("a");
    put("p1/en/app.lng", {{"a", "older"}}, 999);
    EXPECT_EQ(rescan(), "A1b B1 c");
    put("p1/en/app.lng", {{"a", "A1"}, {"c", "C"}}, 1001);
    EXPECT_EQ(rescan(), "A1 B1 C");
    EXPECT_STREQ(old, "A1b");

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

void post_load(const char* name)
{
    auto* lib = new fake_library(name);
    lib->addref();
    vek_generate_event("VEK_CORE_EVT_POST_LOAD_LIBRARY", 0, lib, true);
    EXPECT_EQ(vek_test::count_of(lib), 1);
    lib->release();
}

// Lookups run in eight threads while the catalogues change under them and
// rescans come from the test's ticks and the real ones: each sees a whole
// text, and an old one stays readable.
TEST_F(TranslatorTest, TheServiceTakesDefaultPathsOnlyFromTheCoresLoadAndRescansOnTicksUnderConcurrentLookups)
{
    vek_test::env_guard env{"VEK_TRANSLATION_PATH"};
    setenv("VEK_TRANSLATION_PATH", (root / "p2").c_str(), 1);
    put("i18n/en/app.lng", {{"a", "v0"}}, 1000);
    put("p2/en/app.lng", {{"b", "B"}}, 1000);
    EXPECT_STREQ(vek_translate("a", ""), "a");  // no service yet
    vek_library_entry();
    post_load("other");
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("svc_translator");
    vek::i_translator* t = vek_cast_i_translator(svc);
    t->add_catalog("app");
    EXPECT_EQ(abc(*t), "a b c");
    post_load("vek_core");
    put("i18n/en/app.lng", {{"a", "v1"}}, 1001);
    EXPECT_TRUE(vek_test::wait_for([&] { return abc(*t) == "v1 B c"; }, 9000)) << abc(*t);

    const char* first = vek_translate("a", "");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const char* s = vek_translate("a", "");
                if (s[0] != 'v' || std::atoi(s + 1) > 40 || std::strcmp(first, "v1") != 0) ++bad;
            }
        });
    }
    for (int round = 2; round <= 40; ++round) {
        put(round % 2 == 0 ? "i18n/en/app.lng" : "p2/en/app.lng", {{"a", "v" + std::to_string(round)}}, 1000 + round);
        for (int tick = 0; tick < 6; ++tick) vek_generate_event("VEK_CORE_EVT_BG_TASK", 0, nullptr, true);
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad.load(), 0);
    // i18n is searched first; the last rescan may be the tick's.
    EXPECT_TRUE(vek_test::wait_for([&] { return std::strcmp(vek_translate("a", "en"), "v40") == 0; }, 9000)) << abc(*t);
}

}  // namespace
