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
    EXPECT_EQ(vek::lng::unescape("\\\\\\\\", 4), "");
    EXPECT_FALSE(vek::lng::read_file("/nonexistent/x.lng", [](std::string_view, std::string_view) {}));
}

// A core rooted in a scratch directory, catalogues under "p1" and "p2".
class TranslatorTest : public vek_test::scratch_core_test {
protected:
    // Writes `text` to the file under the root and sets its modification
    // time to `mtime` seconds since 1970.
    void put(const std::string& rel, const std::string& text, long mtime)
    {
        fs::path p = root / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    }
    static std::string pair(const char* id, const char* str)
    {
        return std::string("msgid \"") + id + "\"\nmsgstr \"" + str + "\"\n";
    }
};

TEST_F(TranslatorTest, SearchesEntriesOfALanguageInPathOrderAndTracesExactly)
{
    vek_set_trace_facility("trace.txt");
    put("p1/en/app.lng", pair("a", "A1") + pair("a", "A1b"), 1000);
    put("p2/en/app.lng", pair("a", "A2") + pair("b", "B2"), 1000);
    put("p1/de/app.lng", pair("a", "DE1"), 1000);
    put("p2/de/app.lng", pair("c", "DE2"), 1000);
    put("p1/CVS/app.lng", pair("a", "cvs"), 1000);
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
    EXPECT_STREQ(t.translate("a"), "A1b");  // the later msgstr of a repeated msgid
    EXPECT_STREQ(t.translate("b"), "B2");
    EXPECT_STREQ(t.translate("c", "de"), "DE2");
    EXPECT_STREQ(t.translate("a", "CVS"), "a");
    std::string langs = std::getenv("VEK_I18N_LANGS");
    EXPECT_TRUE(langs == "de,en" || langs == "en,de") << langs;
    t.set_language("");
    t.set_language("de");
    EXPECT_STREQ(t.translate("a"), "DE1");
    put("p2/de/app.lng", pair("c", "DE2b"), 1001);
    t.rescan(nullptr);
    EXPECT_STREQ(t.translate("c"), "DE2b");
    vek_set_trace_facility("stdout");
    std::string trace = vek_test::read_text(root / "trace.txt");
    EXPECT_NE(trace.find(": translator::set_language(de)\n"), std::string::npos);
    EXPECT_NE(trace.find(": translator::reload_catalog('app', '" + root.string() + "/p2/de/app.lng')\n"),
              std::string::npos);
    EXPECT_EQ(trace.find("reload_catalog"), trace.rfind("reload_catalog"));  // add_catalog's load is silent
}

TEST_F(TranslatorTest, ReloadsNewerFilesOnlyMergingAndKeepsOldTextsReadable)
{
    put("p1/en/app.lng", pair("a", "old") + pair("b", "B"), 1000);
    vek::translator t;
    t.add_search_path("p1");
    t.add_catalog("app");
    const char* old = t.translate("a");
    put("p1/en/app.lng", pair("a", "older"), 999);
    t.rescan(nullptr);
    EXPECT_STREQ(t.translate("a"), "old");
    put("p1/en/app.lng", pair("a", "new") + pair("c", "C"), 1001);
    t.rescan(nullptr);
    EXPECT_STREQ(t.translate("a"), "new");
    EXPECT_STREQ(t.translate("b"), "B");  // merged: kept from the first load
    EXPECT_STREQ(t.translate("c"), "C");
    EXPECT_STREQ(old, "old");
}

TEST_F(TranslatorTest, AVanishedFileIsIgnoredAtOnceAndForgottenOnePerRescan)
{
    auto restore = [&] {
        put("p1/en/app.lng", pair("a", "A1"), 1000);
        put("p2/en/app.lng", pair("a", "A2"), 1000);
    };
    restore();
    vek::translator t;
    t.add_search_path("p1");
    t.add_search_path("p2");
    t.add_catalog("app");
    EXPECT_STREQ(t.translate("a"), "A1");
    fs::remove(root / "p1/en/app.lng");
    t.rescan(nullptr);
    EXPECT_STREQ(t.translate("a"), "A2");
    restore();  // back before it was forgotten: it keeps its place
    t.rescan(nullptr);
    EXPECT_STREQ(t.translate("a"), "A1");
    fs::remove(root / "p1/en/app.lng");
    fs::remove(root / "p2/en/app.lng");
    t.rescan(nullptr);
    EXPECT_STREQ(t.translate("a"), "a");
    t.rescan(nullptr);  // forgets p1's entry only
    restore();
    t.rescan(nullptr);  // p1's file comes back as a new, last entry
    EXPECT_STREQ(t.translate("a"), "A2");
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

vek::i_translator* service()
{
    vek::i_object* svc = vek_core()->get_service("svc_translator");
    svc->release();  // the core keeps it
    return vek_cast_i_translator(svc);
}

TEST_F(TranslatorTest, TheServiceTakesDefaultPathsOnlyFromTheCoresLoadAndRescansOnTheTick)
{
    vek_test::env_guard env{"VEK_TRANSLATION_PATH"};
    setenv("VEK_TRANSLATION_PATH", (root / "p2").c_str(), 1);
    put("i18n/en/app.lng", pair("a", "A"), 1000);
    put("p2/en/app.lng", pair("b", "B"), 1000);
    EXPECT_STREQ(vek_translate("a", ""), "a");  // no service yet
    vek_library_entry();
    post_load("other");
    service()->add_catalog("app");
    EXPECT_STREQ(vek_translate("a", "en"), "a");
    post_load("vek_core");
    put("i18n/en/app.lng", pair("a", "A2"), 1001);
    EXPECT_TRUE(vek_test::wait_for([] { return std::strcmp(vek_translate("a", ""), "A2") == 0; }, 9000));
    EXPECT_STREQ(vek_translate("b", ""), "B");
}

TEST_F(TranslatorTest, ConcurrentLookupsSeeWholeTextsWhileCataloguesChange)
{
    vek_library_entry();
    vek::i_translator* t = service();
    t->add_search_path("p1");
    t->add_search_path("p2");
    put("p1/en/app.lng", pair("a", "v0"), 1000);
    t->add_catalog("app");
    const char* first = vek_translate("a", "");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const char* s = vek_translate("a", "");
                if (s[0] != 'v' || std::atoi(s + 1) > 40 || std::strcmp(first, "v0") != 0) ++bad;
            }
        });
    }
    for (int round = 1; round <= 40; ++round) {
        put("p" + std::to_string(1 + round % 2) + "/en/app.lng", pair("a", ("v" + std::to_string(round)).c_str()),
            1000 + round);
        for (int tick = 0; tick < 6; ++tick) vek_generate_event("VEK_CORE_EVT_BG_TASK", 0, nullptr, true);
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad.load(), 0);
    // p1 is searched first; the last rescan may be the tick's.
    EXPECT_TRUE(vek_test::wait_for([] { return std::strcmp(vek_translate("a", "en"), "v40") == 0; }, 9000));
}

}  // namespace
