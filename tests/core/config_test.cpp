// What an application configures: environment files (format, reloads,
// readers during reloads), XML configuration files (variables, libraries by
// priority), and the modules either loads through the entry protocol.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "test_support.h"

namespace fs = std::filesystem;
using vek_test::count_of;
using vek_test::wait_for;
typedef std::vector<std::string> lines;
typedef vek::vek_event_function fn;

namespace {

const std::string k_dir = VEK_TEST_MODULE_DIR;

// Counts environment updates, and notes each library event (events without
// a library are left out) as "load:<name>|<version>|<path>|<event id>", or
// "post:...", with "|svc" when "svc_mod_full" was registered by then.
struct recorder : vek::object {
    std::atomic<int> updates{0};
    lines seen;
    bool on_update(vek::i_event*) { return ++updates > 0; }
    bool on_load(vek::i_event* e) { return note("load:", e); }
    bool on_post(vek::i_event* e) { return note("post:", e); }
    bool note(const char* what, vek::i_event* e)
    {
        auto_ptr_t<vek::i_object> obj = e->get_event_object(), svc = vek_core()->get_service("svc_mod_full");
        vek::i_vek_library* lib = vek_cast_i_vek_library(obj);
        if (lib != nullptr)
            seen.push_back(what + std::string(lib->get_name()) + "|" + lib->get_version() + "|" + lib->get_path() +
                           "|" + std::to_string(e->get_event_id()) + (svc.is_ok() ? "|svc" : ""));
        return true;
    }
};

// A core rooted in a scratch directory with the library entered, tracing to
// "trace.txt" there. "PATH" is "/nonexistent::<the test modules>", so module
// names are found along it past a missing and an empty element. The
// recorder is a member, so it outlives the event processor, which ends with
// vek_terminate in TearDown.
//
// The variables the cases set start with "VEKT_" and stay set for the rest
// of the process: unsetting them between cases would shrink the environment
// under the ending threads of the core before, which still read it. So
// every value a case expects is one the case itself set.
class ConfigTest : public vek_test::scratch_core_test {
protected:
    void SetUp() override
    {
        setenv("PATH", ("/nonexistent::" + k_dir).c_str(), 1);
        scratch_core_test::SetUp();
        vek_library_entry();
        vek_set_trace_facility("trace.txt");
        vek_install_handler("VEK_CORE_EVT_ENV_UPDATED", 0, &rec, static_cast<fn>(&recorder::on_update));
        vek_install_handler("VEK_CORE_EVT_LOAD_LIBRARY", 0, &rec, static_cast<fn>(&recorder::on_load));
        vek_install_handler("VEK_CORE_EVT_POST_LOAD_LIBRARY", 0, &rec, static_cast<fn>(&recorder::on_post));
    }

    // Replaces the file whole (a reload never sees it half written), or
    // rewrites it in place, with the given modification time.
    std::string put(const std::string& name, const std::string& bytes, time_t mtime = 1000, long ns = 0,
                    bool in_place = false)
    {
        std::string path = (root / name).string(), tmp = in_place ? path : path + ".tmp";
        std::ofstream(tmp, std::ios::binary | std::ios::trunc) << bytes;
        struct timespec times[2] = {{mtime, ns}, {mtime, ns}};
        EXPECT_EQ(utimensat(AT_FDCWD, tmp.c_str(), times, 0), 0);
        std::rename(tmp.c_str(), path.c_str());  // in place: a no-op
        return path;
    }
    // Ends the file trace; its text without the time stamps.
    std::string trace()
    {
        vek_set_trace_facility("stdout");
        std::istringstream in(vek_test::read_text(root / "trace.txt"));
        std::string out;
        for (std::string line; std::getline(in, line);) out += (line.size() > 21 ? line.substr(21) : line) + "\n";
        return out;
    }
    // A library that may fail.
    static std::string lib(const std::string& path, const std::string& attrs)
    {
        return "<library path='" + path + "' ignore_error='1' " + attrs + "/>";
    }
    static void tick() { vek_generate_event("VEK_CORE_EVT_BG_TASK", 0, nullptr, true); }
    static void* load(const std::string& path) { return vek_core()->load_library(path.c_str()); }

    // The variable as applications read it. glibc's search is not
    // instrumented, so in a ThreadSanitizer build the search is repeated with
    // acquire loads: the sanitizer then sees the order the setter's release
    // stores give the plain loads through the slot, which it cannot follow
    // inside glibc.
    static std::string env(const char* name)
    {
        const char* value = std::getenv(name);
#if defined(__SANITIZE_THREAD__)
        if (value != nullptr) {
            for (char** slot = __atomic_load_n(&environ, __ATOMIC_ACQUIRE);; ++slot) {
                const char* text = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
                if (text == nullptr || text + std::strlen(name) + 1 == value) break;
            }
        }
#endif
        return value != nullptr ? value : "(unset)";
    }

    vek_test::env_guard path_guard{"PATH"};
    recorder rec;
};
using EnvFileTest = ConfigTest;
using LibraryTest = ConfigTest;

// "/" and 1 + 11 * k copies of the k-th letter: a reader can tell a torn
// value.
std::string whole_value(int round)
{
    return "/" + std::string(1 + round % 26 * 11, static_cast<char>('a' + round % 26));
}
bool is_whole(const std::string& v)
{
    return v.size() > 1 && v[0] == '/' && v.find_first_not_of(v[1], 1) == std::string::npos &&
           v.size() == 2 + (v[1] - 'a') * 11u;
}

}  // namespace

// Other code's unsetenv moves the entries after it in place; its setenv
// publishes an array of glibc's own. Later loads keep both.
TEST_F(EnvFileTest, LinesFollowTheFormatAndWritesByOtherCodeAreTakenOver)
{
    setenv("VEKT_G", "old", 1);
    std::string big(1 << 20, 'x');
    std::string text =
        "VEKT_A=1\r\r\rVEKT_B = two words \t\nVEKT_D=x#y\nVEKT_E=a=b\nno equals\n=v\n ^=v\nVEKT_F^ =1\n"
        "VEKT_G ^=new\nVEKT_H^=def\rVEKT_J=\xff\xfe\xc3(\rVEKT_K=\nVEKT_L=$VEKT_A${VEKT_E}\nVEKT_OA=1\nVEKT_OB=1\n"
        "VEKT_OC=1\nVEKT_BIG=" +
        big + "\n" + std::string("VEKT_X=\0x\nVEKT_N=after", 22);
    ASSERT_TRUE(vek_load_environment(put("app.env", text).c_str()));
    const std::pair<const char*, std::string> expected[] = {
        {"VEKT_A", "1"},  {"VEKT_B", "two words"}, {"VEKT_D", "x"},   {"VEKT_E", "a=b"},
        {"VEKT_F^", "1"}, {"VEKT_G", "old"},       {"VEKT_H", "def"}, {"VEKT_J", "\xff\xfe\xc3("},
        {"VEKT_K", ""},   {"VEKT_L", "1a=b"},      {"VEKT_BIG", big}, {"VEKT_N", "after"}};
    for (const auto& e : expected) EXPECT_EQ(env(e.first), e.second) << e.first;

    const std::string file = "Environment file '" + root.string() + "/app.env', line ";
    EXPECT_EQ(trace(), "vek_load_environment('" + root.string() + "/app.env')\n" + file +
                           "8: empty variable name, line skipped\n" + file + "9: empty variable name, line skipped\n" +
                           file + "20: NUL byte, line skipped\n");

    unsetenv("VEKT_OA");
    ASSERT_TRUE(vek_load_environment(put("b.env", "VEKT_OC=2\nVEKT_OD=2\n").c_str()));
    setenv("VEKT_OE", "glibc", 1);
    ASSERT_TRUE(vek_load_environment(put("c.env", "VEKT_OB=3\nVEKT_OE=3\n").c_str()));
    std::string all;
    for (char** e = environ; *e != nullptr; ++e) all += std::strncmp(*e, "VEKT_O", 6) == 0 ? *e + std::string(";") : "";
    EXPECT_EQ(all, "VEKT_OB=3;VEKT_OC=2;VEKT_OD=2;VEKT_OE=3;");
}

// Only readable files are loaded and watched, each once. A change is
// reloaded once however many ticks look at it; a file that is gone is
// skipped and stays watched. Rewrites in place within one second (told
// apart by size, then by the nanoseconds) and by rename (a new inode) are
// each reloaded; a last line without its line end waits until the file has
// been left alone a second.
TEST_F(EnvFileTest, EachChangeIsReloadedOnceUnderConcurrentTicksEvenWithinOneSecond)
{
    EXPECT_FALSE(vek_load_environment(nullptr) || vek_load_environment("missing.env"));
    EXPECT_EQ(vek_core()->get_service("env_config_reloader"), nullptr);
    const std::string path = put("app.env", "VEKT_A=1\nVEKT_B=1\nVEKT_S=0\n");
    ASSERT_TRUE(vek_load_environment(path.c_str()) && vek_load_environment("app.env"));  // watched once
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("env_config_reloader");
    ASSERT_NE(vek_cast_env_config_reloader(svc), nullptr);
    EXPECT_EQ(count_of(svc), 2);  // the core's and ours

    put("app.env", "VEKT_A=2\n", 2000);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            tick();
        });
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_TRUE(wait_for([&] { return rec.updates == 1; }));
    EXPECT_EQ(env("VEKT_A") + env("VEKT_B"), "21");  // a dropped name keeps its value
    std::remove(path.c_str());
    tick();
    put("app.env", "VEKT_A=3\n", 3000);
    tick();
    EXPECT_TRUE(wait_for([] { return env("VEKT_A") == "3"; }));
    put("app.env", "VEKT_A=4\n", 4000);  // the tick thread alone
    EXPECT_TRUE(wait_for([&] { return rec.updates == 3; }, 3000) && env("VEKT_A") == "4");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // then still three reloads
    const std::string reload = "Reloading environment configuration file '" + path + "'\n";
    EXPECT_EQ(trace(), "vek_load_environment('missing.env')\nvek_load_environment('" + path +
                           "')\nvek_load_environment('app.env')\n" + reload + reload + reload);

    vek_set_trace_facility("trace.txt");
    auto rewrite = [&](const std::string& bytes, long ns, bool in_place = true) {
        put("app.env", bytes, 4000, ns, in_place);
        tick();
    };
    rewrite("VEKT_A=22\n", 0);
    EXPECT_TRUE(wait_for([] { return env("VEKT_A") == "22"; }));
    rewrite("VEKT_A=33\n", 1);
    EXPECT_TRUE(wait_for([] { return env("VEKT_A") == "33"; }));
    rewrite("VEKT_A=44\n", 1, false);
    EXPECT_TRUE(wait_for([] { return env("VEKT_A") == "44"; }));
    rewrite("VEKT_A=5\nVEKT_S=ha", 2);
    const std::string waiting = "Environment file '" + path + "': its last line has no line end yet, waiting";
    EXPECT_TRUE(wait_for([&] { return vek_test::read_text(root / "trace.txt").find(waiting) != std::string::npos; }));
    EXPECT_EQ(env("VEKT_A") + env("VEKT_S"), "440");
    rewrite("VEKT_A=5\nVEKT_S=half", 3);
    EXPECT_TRUE(wait_for([] { return env("VEKT_S") == "half"; }, 4000) && env("VEKT_A") == "5");
}

// Environment and translator change under readers: every value read is
// whole, and a translation once returned keeps its text.
TEST_F(EnvFileTest, ReadersSeeWholeValuesWhileReloadsAddNamesAndCataloguesChange)
{
    std::string lines;  // the names added so far
    ASSERT_TRUE(vek_load_environment(put("app.env", "VEKT_X=" + whole_value(0)).c_str()));
    fs::create_directories(root / "i18n/en");
    auto catalogue = [&](int r) {
        put("i18n/en/app.lng", "msgid \"a\"\nmsgstr \"" + whole_value(r) + "\"\n", 1000 + r);
    };
    catalogue(0);
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("svc_string"),
                              tr = vek_core()->get_service("svc_translator");
    vek::i_string_proc* proc = vek_cast_i_string_proc(svc);
    vek_cast_i_translator(tr)->add_search_path("i18n");
    vek_cast_i_translator(tr)->add_catalog("app");
    ASSERT_EQ(vek_translate("a", "en"), whole_value(0));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    auto check = [&](const char* v) { torn += v == nullptr || !is_whole(v); };
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i)
        readers.emplace_back([&] {
            const char* held = vek_translate("a", "en");
            const std::string held_text = held;
            for (unsigned int n = 0; !done; ++n) {
                check(env("VEKT_X").c_str());
                std::unique_ptr<char, decltype(&std::free)> text(proc->process("${VEKT_X}", nullptr), &std::free);
                check(text.get());
                const std::string added = env(("VEKT_N" + std::to_string(n % 200)).c_str());
                if (added != "(unset)") check(added.c_str());
                check(vek_translate("a", "en"));
                if (held_text != held) ++torn;
            }
        });
    for (int r = 1; r <= 200; ++r) {
        lines += "VEKT_N" + std::to_string(r) + "=" + whole_value(r) + "\n";
        put("app.env", "VEKT_X=" + whole_value(r) + "\n" + lines, 1000 + r);
        catalogue(r);
        tick();  // every sixth tick rescans the catalogues
    }
    for (int i = 0; i < 6; ++i) tick();
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_TRUE(wait_for([&] { return rec.updates == 200; }));
    EXPECT_EQ(env("VEKT_X"), whole_value(200));
    EXPECT_EQ(vek_translate("a", "en"), whole_value(200));
}

// Unreadable files and a missing string service give false. Variables are
// set in order, also without a "libraries" element; the valueless one is
// set to "", the nameless one is skipped with a trace line. Libraries of
// every "libraries" element load by descending priority, equal ones in
// document order, skipping negative ones and other platforms (matched as
// for variables); no priority is 0. A second "libraries" element loads
// once, without a hang. A priority beyond int is an error, not "never":
// skipped with ignore_error, else nothing loads. A required library that
// fails stops the loading and keeps what loaded.
TEST_F(ConfigTest, VariablesAreSetInOrderAndLibrariesLoadByPriorityUntilARequiredOneFails)
{
    put("empty.xml", "");
    put("ok.xml",
        "<c><variables><variable name='VEKT_A' value='${VEK_ROOT_PATH}/dir'/>"
        "<variable name='VEKT_B' value='${VEKT_A}/sub'/><variable name='VEKT_P' value='rel/../x' type='path'/>"
        "<variable name='VEKT_Q' value='rel/x' type='PATH'/><variable name='VEKT_L' value='linux' platform='LiNuX'/>"
        "<variable name='VEKT_L' value='win' platform='win32'/>"
        "<variable name='VEKT_A' value='${VEKT_A}2' platform=''/></variables></c>");
    put("c.xml", "<c><variables><variable name='VEKT_EMPTY'/><variable value='x'/></variables><libraries>" +
                     lib("ok", "priority='1'") + "<library path='low' priority='-2147483649'/></libraries></c>");
    put("p.xml", "<c><libraries>" + lib("a", "priority='2'") + lib("zero", "") + lib("neg", "priority='-1'") +
                     lib("longer", "priority='50' platform='linux64'") + lib("big", "priority='99999999999'") +
                     lib("c", "priority='5'") + lib("b", "priority='2'") + "</libraries><libraries>" +
                     lib("second", "priority='1'") + "</libraries></c>");
    put("f.xml", "<c><libraries><library path='mod_full' priority='9'/>" + lib("optional", "priority='8'") +
                     "<library path='required' priority='7'/>" + lib("lower", "priority='6'") + "</libraries></c>");
    for (const char* bad : {"missing.xml", "empty.xml", "c.xml", "f.xml"}) EXPECT_FALSE(vek_load_config(bad)) << bad;
    EXPECT_FALSE(vek_load_config(nullptr));
    EXPECT_TRUE(vek_load_config("${VEK_ROOT_PATH}/ok.xml") && vek_load_config("p.xml"));
    EXPECT_TRUE(vek_library_loaded("mod_full"));
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));
    EXPECT_FALSE(vek_load_config("ok.xml"));
    const std::string r = root.string();
    EXPECT_EQ(env("VEKT_EMPTY") + ";" + env("VEKT_A") + ";" + env("VEKT_B") + ";" + env("VEKT_P") + ";" +
                  env("VEKT_Q") + ";" + env("VEKT_L"),
              ";" + r + "/dir2;" + r + "/dir/sub;" + r + "/x;rel/x;linux");
    EXPECT_EQ(trace(),
              "vek_load_config(missing.xml)\nvek_load_config(empty.xml)\nvek_load_config(c.xml)\n"
              "vek_load_config(c.xml): variable '' not set: invalid name\n"
              "vek_load_config(c.xml): library 'low': priority '-2147483649' is out of range\n"
              "vek_load_config(f.xml)\ncore::load_library(mod_full)\nLoaded 'mod_full' version '1.2.3'\n"
              "core::load_library(optional)\ncore::load_library(required)\nvek_load_config((null))\n"
              "vek_load_config(${VEK_ROOT_PATH}/ok.xml)\nvek_load_config(p.xml)\n"
              "vek_load_config(p.xml): library 'big': priority '99999999999' is out of range\n"
              "core::load_library(c)\ncore::load_library(a)\ncore::load_library(b)\ncore::load_library(second)\n"
              "core::load_library(zero)\nvek_load_config(ok.xml)\n");
}

// A library loads once under any of its names and is announced around its
// entry. Without its own vek_library_initialized a module is loaded but no
// library (vek_core.so's export must not count for it), not announced, and
// its entry is not called. Not ready: announced, listed, but the load fails;
// an entry that throws fails the same way, with a log line. Without name and
// version a library has empty ones, not vek_core's. The path of a failed
// load is taken: its handle comes back now, unannounced. Libraries are told
// apart by path: one file under two names is listed twice. ".so" is added
// unless the name already ends in exactly ".so". An absolute path is tried
// as it is and never appended to "PATH": here that would find
// <root>//<abs>.so. Bad input and load errors give null and their trace
// lines.
TEST_F(LibraryTest, ModulesLoadByTheEntryProtocolAndStayListedUntilTerminate)
{
    const std::string so = k_dir + "/mod_full.so", m = "||" + k_dir + "/mod_", anon = m + "anon.so|0|svc",
                      caps = "||" + root.string() + "/anon.SO.so|0|svc";
    const std::string abs = "/vek_absent_" + std::to_string(::getpid()) + "/mod_full";
    fs::create_directories(root / abs.substr(1, abs.rfind('/') - 1));
    fs::create_symlink(so, root.string() + abs + ".so");
    for (const char* leaf : {"anon.so.so", "anon.SO.so"}) fs::create_symlink(k_dir + "/mod_anon.so", root / leaf);
    std::ofstream(root / "bad.so") << "not a shared object\n";
    EXPECT_TRUE(vek_core()->load_library(nullptr) == nullptr && load("") == nullptr && load("bad") == nullptr);
    EXPECT_EQ(std::string(vek_get_last_error()).rfind("library 'bad': cannot load " + root.string() + "/bad.so: ", 0),
              0u);
    void* h = load("mod_full");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(load(so), h);
    const std::pair<std::string, bool> loads[] = {{"mod_no_init", true}, {"mod_false", false}, {"mod_throw", false},
                                                  {"mod_anon", true},    {"mod_false", true},  {"anon.SO", true},
                                                  {"anon.so", false}};
    vek_test::env_guard ld_guard{"LD_LIBRARY_PATH"};
    unsetenv("LD_LIBRARY_PATH");
    lines reasons;
    for (const auto& l : loads) {
        EXPECT_EQ(load(l.first) != nullptr, l.second) << l.first;
        if (!l.second) reasons.push_back(vek_get_last_error());
    }
    EXPECT_EQ(reasons,
              (lines{"library 'mod_false': the entry of 'mod_false' (" + k_dir + "/mod_false.so) reported failure",
                     "library 'mod_throw': the entry of 'mod_throw' (" + k_dir + "/mod_throw.so) threw: no database",
                     "library 'anon.so' not found; looked for: " + root.string() + "/anon.so, /nonexistent/anon.so, " +
                         k_dir + "/anon.so, " + VEK_TEST_PROGRAM_DIR + "/../lib/anon.so"}));
    // After the places above: the program's ../lib, then LD_LIBRARY_PATH.
    fs::create_directories(root / "ld");
    fs::create_symlink(so, root / "ld/ldmod.so");
    setenv("LD_LIBRARY_PATH", (root / "ld").c_str(), 1);
    char* found = vek_find_library("ldmod");
    EXPECT_EQ(found != nullptr ? std::string(found) : "", (root / "ld/ldmod.so").string());
    std::free(found);
    setenv("PATH", root.c_str(), 1);
    EXPECT_EQ(load(abs), nullptr);
    EXPECT_EQ(rec.seen, (lines{"load:mod_full|1.2.3|" + so + "|0", "post:mod_full|1.2.3|" + so + "|0|svc",
                               "load:mod_false" + m + "false.so|0|svc", "load:mod_throw" + m + "throw.so|0|svc",
                               "load:" + anon, "post:" + anon, "load:" + caps, "post:" + caps}));
    auto_ptr_t<vek::i_object_col> libs = vek_core()->get_libraries();
    lines names;
    for (unsigned int i = 0; i < libs->get_count(); ++i)
        names.push_back(vek_cast_i_vek_library(auto_ptr_t<vek::i_object>(libs->get_item_by_pos(i)))->get_name());
    EXPECT_EQ(names, (lines{"mod_full", "mod_false", "mod_throw", "", ""}));
    auto_ptr_t<vek::i_object> lib = libs->get_item_by_name("mod_full");
    libs.reset(nullptr);  // a copy of the list, holding its own references
    EXPECT_TRUE(vek_library_loaded("mod_full") && vek_library_loaded("mod_false"));
    EXPECT_FALSE(vek_library_loaded("MOD_FULL") || vek_library_loaded(nullptr) || vek_library_loaded("mod_no_init"));
    EXPECT_EQ(vek_core()->get_service("svc_mod_no_init"), nullptr);
    // Nothing for null and "", the system's message for "bad".
    const std::string out = trace(),
                      head = "core::load_library(bad)\nError loading library " + root.string() + "/bad.so: ",
                      threw = "(" + k_dir + "/mod_throw.so): the entry of 'mod_throw' threw: no database\n";
    const std::size_t eol = out.find('\n', head.size());
    EXPECT_TRUE(out.compare(0, head.size(), head) == 0 && eol > head.size()) << out;
    EXPECT_EQ(out.compare(eol, 30, "\ncore::load_library(mod_full)\n"), 0) << out;
    EXPECT_NE(out.find(threw), std::string::npos) << out;

    ASSERT_NE(vek_cast_i_vek_library(lib), nullptr);
    EXPECT_EQ(vek_cast_i_vek_library(lib)->get_handle(), h);
    EXPECT_EQ(count_of(lib), 2);  // the core's list and ours
    vek_terminate();
    EXPECT_EQ(count_of(lib), 1);
    EXPECT_FALSE(vek_library_loaded("mod_full"));
}

// The module docs/modules.md shows, built from the page.
TEST_F(LibraryTest, TheDocumentedModuleLoadsThroughTheWholeProtocol)
{
    const std::string so = k_dir + "/mod_doc_hello.so";
    ASSERT_NE(load("mod_doc_hello"), nullptr) << vek_get_last_error();
    EXPECT_EQ(rec.seen, (lines{"load:hello|1.0.0|" + so + "|0", "post:hello|1.0.0|" + so + "|0"}));
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("svc_hello");
    EXPECT_STREQ(vek_cast_i_string(svc) != nullptr ? vek_cast_i_string(svc)->get_value() : "", "hello");
    EXPECT_TRUE(vek_library_loaded("hello"));
}
