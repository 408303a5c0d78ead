#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "test_support.h"

using vek_test::wait_for;

namespace {

// getenv as applications call it. glibc's search is not instrumented, so
// in a ThreadSanitizer build the search is repeated with acquire loads: the
// sanitizer then sees the order the setter's release stores give the plain
// loads through the slot, which it cannot follow inside glibc.
const char* plain_getenv(const char* name)
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
    return value;
}

class update_counter : public vek::object {
public:
    std::atomic<int> updates{0};
    bool on_update(vek::i_event*)
    {
        ++updates;
        return true;
    }
};

class EnvFileTest : public vek_test::scratch_core_test {
protected:
    void SetUp() override
    {
        scratch_core_test::SetUp();
        vek_library_entry();
        vek_set_trace_facility("trace.txt");
        vek_install_handler("VEK_CORE_EVT_ENV_UPDATED", 0, &counter, callback);
    }
    void TearDown() override
    {
        vek_uninstall_handler("VEK_CORE_EVT_ENV_UPDATED", 0, &counter, callback);
        scratch_core_test::TearDown();
    }

    // Replaces the file whole (a reload never sees it half written) with
    // the given modification time.
    std::string put(const char* name, const std::string& bytes, time_t mtime = 1000)
    {
        std::string path = (root / name).string(), tmp = path + ".tmp";
        std::ofstream(tmp, std::ios::binary) << bytes;
        struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, tmp.c_str(), times, 0), 0);
        std::rename(tmp.c_str(), path.c_str());
        return path;
    }
    // Ends the file trace; how often `text` occurs in it.
    int traced(const std::string& text)
    {
        vek_set_trace_facility("stdout");
        std::string all = vek_test::read_text(root / "trace.txt");
        int n = 0;
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
        return n;
    }
    static void tick() { vek_generate_event("VEK_CORE_EVT_BG_TASK", 0, nullptr, true); }
    static std::string env(const char* name, const char* unset = "(unset)")
    {
        const char* v = plain_getenv(name);
        return v != nullptr ? v : unset;
    }

    update_counter counter;
    vek::vek_event_function callback = static_cast<vek::vek_event_function>(&update_counter::on_update);
};

// "/<n>_" and n copies of one letter: a reader can tell a torn value.
std::string whole_value(int round)
{
    int n = 1 + round * 37 % 300;
    return "/" + std::to_string(n) + "_" + std::string(n, static_cast<char>('a' + round % 26));
}
bool is_whole(const std::string& v)
{
    std::size_t us = v.find('_');
    if (v.size() < 3 || v[0] != '/' || us == std::string::npos) return false;
    std::string body = v.substr(us + 1);
    return std::to_string(body.size()) == v.substr(1, us - 1) && body.find_first_not_of(body[0]) == std::string::npos;
}

}  // namespace

TEST_F(EnvFileTest, LinesFollowTheFormatAndBadBytesDoNotStopTheFile)
{
    setenv("VEKT_G", "old", 1);
    std::string big(1 << 20, 'x');
    std::string text =
        "VEKT_A=1\r\r\rVEKT_B = two words \t\n#VEKT_C=3\nVEKT_D=x#y\nVEKT_E=a=b\nno equals\n=v\n ^=v\n"
        "VEKT_F^ =1\nVEKT_G ^=new\nVEKT_H^=def\nVEKT_I=${VEKT_A}-${VEKT_B\rVEKT_J=\xff\xfe\xc3(\r"
        "VEKT_K=\nVEKT_L=$VEKT_A${VEKT_E}\nVEKT_BIG=" +
        big + "\nVEKT_M=last\n";
    text += std::string("VEKT_X=\0x\nVEKT_N=after", 22);
    ASSERT_TRUE(vek_load_environment(put("app.env", text).c_str()));
    const std::pair<const char*, std::string> expected[] = {
        {"VEKT_A", "1"},    {"VEKT_B", "two words"},  {"VEKT_C", "(unset)"},       {"VEKT_D", "x"},
        {"VEKT_E", "a=b"},  {"VEKT_F^", "1"},         {"VEKT_F", "(unset)"},       {"VEKT_G", "old"},
        {"VEKT_H", "def"},  {"VEKT_I", "1-${VEKT_B"}, {"VEKT_J", "\xff\xfe\xc3("}, {"VEKT_K", ""},
        {"VEKT_L", "1a=b"}, {"VEKT_BIG", big},        {"VEKT_M", "last"},          {"VEKT_N", "after"}};
    for (const auto& e : expected) EXPECT_EQ(env(e.first), e.second) << e.first;
    EXPECT_EQ(traced("vek_load_environment('" + (root / "app.env").string() + "')"), 1);
    EXPECT_EQ(traced("Error setting"), 0);
    const std::string file = "Environment file '" + (root / "app.env").string() + "', line ";
    for (const char* skipped : {"9: empty variable name", "10: empty variable name", "20: NUL byte"}) {
        EXPECT_EQ(traced(file + skipped + ", line skipped"), 1) << skipped;
    }
}

TEST_F(EnvFileTest, OnlyReadableFilesAreLoadedAndWatched)
{
    EXPECT_FALSE(vek_load_environment(nullptr));
    EXPECT_FALSE(vek_load_environment("missing.env"));
    EXPECT_EQ(vek_core()->get_service("env_config_reloader"), nullptr);
    ASSERT_TRUE(vek_load_environment(put("empty.env", "").c_str()));
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("env_config_reloader");
    ASSERT_NE(vek_cast_env_config_reloader(svc), nullptr);
    EXPECT_EQ(vek_test::count_of(svc), 2);  // the core's and ours
    put("empty.env", "VEKT_LATE=1", 2000);
    tick();  // or the tick thread, which may be reading it now
    EXPECT_TRUE(wait_for([] { return env("VEKT_LATE") == "1"; }));
}

TEST_F(EnvFileTest, WritesByOtherCodeBetweenLoadsAreTakenOver)
{
    // Names of its own: earlier cases in this process leave VEKT_ ones set.
    ASSERT_TRUE(vek_load_environment(put("a.env", "VEKO_A=1\nVEKO_B=1\nVEKO_C=1\n").c_str()));
    unsetenv("VEKO_A");  // moves the entries after it in place
    ASSERT_TRUE(vek_load_environment(put("b.env", "VEKO_C=2\nVEKO_D=2\n").c_str()));
    setenv("VEKO_E", "glibc", 1);  // publishes an array of glibc's own
    ASSERT_TRUE(vek_load_environment(put("c.env", "VEKO_B=3\nVEKO_E=3\n").c_str()));
    std::string all;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "VEKO_", 5) == 0) all += std::string(*e) + ";";
    }
    EXPECT_EQ(all, "VEKO_B=3;VEKO_C=2;VEKO_D=2;VEKO_E=3;");
}

TEST_F(EnvFileTest, EachChangeIsReloadedOnceEvenUnderConcurrentTicks)
{
    std::string path = put("app.env", "VEKT_A=1\nVEKT_B=1\n");
    ASSERT_TRUE(vek_load_environment(path.c_str()));
    ASSERT_TRUE(vek_load_environment("app.env"));  // watched once
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
    EXPECT_TRUE(wait_for([&] { return counter.updates == 1; }));
    EXPECT_EQ(env("VEKT_A") + env("VEKT_B"), "21");  // a dropped name keeps its value

    std::remove(path.c_str());
    tick();  // gone: skipped, still watched
    put("app.env", "VEKT_A=3\n", 3000);
    tick();
    EXPECT_TRUE(wait_for([] { return env("VEKT_A") == "3"; }));
    put("app.env", "VEKT_A=4\n", 4000);  // the tick thread alone
    EXPECT_TRUE(wait_for([&] { return counter.updates == 3; }, 3000));
    EXPECT_EQ(env("VEKT_A"), "4");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(counter.updates.load(), 3);
    EXPECT_EQ(traced("Reloading environment configuration file '" + path + "'"), 3);
}

// Rewrites in place within one second (told apart by size, then by the
// nanoseconds) and by rename (a new inode) are each reloaded; a last line
// without its line end waits until the file has been left alone a second.
TEST_F(EnvFileTest, RewritesWithinOneSecondAreReloadedAndAnUnfinishedLineWaits)
{
    std::string path = put("r.env", "VEKT_R=1\n");
    ASSERT_TRUE(vek_load_environment(path.c_str()));
    auto rewrite = [&](const std::string& bytes, long nanoseconds) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        struct timespec times[2] = {{1000, nanoseconds}, {1000, nanoseconds}};
        EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        tick();
    };
    rewrite("VEKT_R=22\n", 0);
    EXPECT_TRUE(wait_for([] { return env("VEKT_R") == "22"; }));
    rewrite("VEKT_R=33\n", 1);
    EXPECT_TRUE(wait_for([] { return env("VEKT_R") == "33"; }));
    put("r.env", "VEKT_R=44\n");
    tick();
    EXPECT_TRUE(wait_for([] { return env("VEKT_R") == "44"; }));

    rewrite("VEKT_R=5\nVEKT_S=ha", 2);
    const std::string waiting = "Environment file '" + path + "': its last line has no line end yet, waiting";
    EXPECT_TRUE(wait_for([&] { return vek_test::read_text(root / "trace.txt").find(waiting) != std::string::npos; }));
    EXPECT_EQ(env("VEKT_R") + env("VEKT_S"), "44(unset)");
    rewrite("VEKT_R=5\nVEKT_S=half", 3);
    EXPECT_TRUE(wait_for([] { return env("VEKT_S") == "half"; }, 4000));
    EXPECT_EQ(env("VEKT_R"), "5");
}

// Environment and translator change under readers: every value read is
// whole, and a translation once returned keeps its text.
TEST_F(EnvFileTest, ReadersSeeWholeValuesWhileReloadsAddNamesAndCataloguesChange)
{
    std::string lines;  // the names added so far
    std::string path = put("app.env", "VEKT_X=" + whole_value(0));
    auto catalogue = [&](int r) {
        std::filesystem::create_directories(root / "i18n/en");
        put("i18n/en/app.lng", "msgid \"a\"\nmsgstr \"" + whole_value(r) + "\"\n", 1000 + r);
    };
    catalogue(0);
    ASSERT_TRUE(vek_load_environment(path.c_str()));
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("svc_string");
    auto_ptr_t<vek::i_object> tr = vek_core()->get_service("svc_translator");
    vek::i_string_proc* proc = vek_cast_i_string_proc(svc);
    vek_cast_i_translator(tr)->add_search_path("i18n");
    vek_cast_i_translator(tr)->add_catalog("app");
    ASSERT_EQ(vek_translate("a", "en"), whole_value(0));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    auto check = [&](const char* v, std::size_t cut = 0) {
        if (v == nullptr || !is_whole(std::string(v, std::strlen(v) - cut))) ++torn;
    };
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i)
        readers.emplace_back([&, i] {
            const char* held = vek_translate("a", "en");
            const std::string held_text = held;
            for (unsigned int n = 0; !done; ++n) {
                check(plain_getenv("VEKT_X"));
                char* p = vek_get_absolute_path("${VEKT_X}/f");
                check(p, 2);
                std::free(p);
                p = proc->process("${VEKT_X}", nullptr);
                check(p);
                std::free(p);
                const char* added = plain_getenv(("VEKT_N" + std::to_string(n % 200)).c_str());
                if (added != nullptr) check(added);
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
    EXPECT_TRUE(wait_for([&] { return counter.updates == 200; }));
    EXPECT_EQ(env("VEKT_X"), whole_value(200));
    EXPECT_EQ(vek_translate("a", "en"), whole_value(200));
}
