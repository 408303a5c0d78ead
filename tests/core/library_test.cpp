#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include "test_support.h"

namespace fs = std::filesystem;
using vek_test::count_of;

namespace {

typedef std::vector<std::string> names;
typedef vek::vek_event_function fn;
const std::string k_dir = VEK_TEST_MODULE_DIR;

// What a library event handler saw; `svc`: "svc_mod_full" was registered.
struct sighting {
    std::string event, name, version, path;
    long long id;
    void* handle;
    bool svc;
};

class recorder : public vek::object {
public:
    bool on_load(vek::i_event* e) { return note("load", e); }
    bool on_post(vek::i_event* e) { return note("post", e); }
    // "load:<name>" and "post:<name>", in order of delivery.
    names events() const
    {
        names out;
        for (const auto& s : seen) out.push_back(s.event + ":" + s.name);
        return out;
    }
    std::vector<sighting> seen;  // events without a library are left out

private:
    bool note(const char* what, vek::i_event* e)
    {
        vek::i_object* obj = e->get_event_object();
        vek::i_object* svc = vek_core()->get_service("svc_mod_full");
        if (vek::i_vek_library* lib = vek_cast_i_vek_library(obj)) {
            seen.push_back({what, lib->get_name(), lib->get_version(), lib->get_path(), e->get_event_id(),
                            lib->get_handle(), svc != nullptr});
        }
        vek_release(obj);
        vek_release(svc);
        return true;
    }
};

names library_names()
{
    vek::i_object_col* libs = vek_core()->get_libraries();
    names out;
    for (unsigned int i = 0; i < libs->get_count(); ++i) {
        vek::i_object* item = libs->get_item_by_pos(i);
        vek::i_vek_library* lib = vek_cast_i_vek_library(item);
        out.push_back(lib != nullptr ? lib->get_name() : "?");
        item->release();
    }
    libs->release();
    return out;
}

// New reference: caller releases. The listed library named `name`.
vek::i_vek_library* listed(const char* name)
{
    vek::i_object_col* libs = vek_core()->get_libraries();
    vek::i_object* item = libs->get_item_by_name(name);
    libs->release();
    return vek_cast_i_vek_library(item);
}

void* load(const std::string& path)
{
    return vek_core()->load_library(path.c_str());
}

// The trace output of a load that must fail.
std::string failed_load(const char* path)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(vek_core()->load_library(path), nullptr) << (path != nullptr ? path : "nullptr");
    return testing::internal::GetCapturedStdout();
}

// The recorder is a member, so it outlives the event processor, which ends
// with vek_terminate in TearDown.
class LibraryTest : public vek_test::entered_library_test {
protected:
    void SetUp() override
    {
        fs::create_directories(scratch);
        setenv("VEK_ROOT_PATH", k_dir.c_str(), 1);
        entered_library_test::SetUp();
        vek_install_handler("VEK_CORE_EVT_LOAD_LIBRARY", 0, &rec, static_cast<fn>(&recorder::on_load));
        vek_install_handler("VEK_CORE_EVT_POST_LOAD_LIBRARY", 0, &rec, static_cast<fn>(&recorder::on_post));
    }
    void TearDown() override
    {
        entered_library_test::TearDown();
        fs::remove_all(scratch);
    }
    vek_test::env_guard env{{"VEK_ROOT_PATH", "PATH"}};
    fs::path scratch = vek_test::scratch_path("vek_library");
    recorder rec;
};

}  // namespace

TEST_F(LibraryTest, LoadsOnceAnnouncesAroundTheEntryAndListsUntilTerminate)
{
    const std::string so = k_dir + "/mod_full.so";
    void* h = load("mod_full");
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(rec.events(), (names{"load:mod_full", "post:mod_full"}));
    for (const sighting& s : rec.seen) {  // the entry runs between the two
        EXPECT_EQ(std::tie(s.id, s.version, s.path, s.handle, s.svc),
                  std::make_tuple(0LL, "1.2.3", so, h, s.event == "post"));
    }
    EXPECT_TRUE(vek_library_loaded("mod_full"));
    EXPECT_FALSE(vek_library_loaded("MOD_FULL"));
    EXPECT_FALSE(vek_library_loaded(nullptr));

    rec.seen.clear();
    EXPECT_EQ(load("mod_full"), h);
    EXPECT_EQ(load(so), h);
    EXPECT_TRUE(rec.seen.empty());
    EXPECT_EQ(library_names(), names{"mod_full"});

    vek::i_vek_library* lib = listed("mod_full");
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(count_of(lib), 2);  // the core's list and ours
    vek_terminate();
    EXPECT_EQ(count_of(lib), 1);
    lib->release();
    EXPECT_FALSE(vek_library_loaded("mod_full"));
}

TEST_F(LibraryTest, CandidatesAndSuffixRules)
{
    // An absolute path is tried as it is and never appended to "PATH":
    // here that would find <scratch>//<abs>.so.
    const std::string abs = "/vek_absent_" + std::to_string(::getpid()) + "/mod_full";
    fs::create_directories(scratch / abs.substr(1, abs.rfind('/') - 1));
    fs::create_symlink(k_dir + "/mod_full.so", scratch.string() + abs + ".so");
    setenv("VEK_ROOT_PATH", scratch.c_str(), 1);
    setenv("PATH", scratch.c_str(), 1);
    EXPECT_EQ(load(abs), nullptr);

    // A relative name goes along "PATH" when the root does not have it.
    setenv("PATH", ("/nonexistent::" + k_dir).c_str(), 1);
    ASSERT_NE(load("mod_full"), nullptr);
    EXPECT_EQ(rec.seen.at(0).path, k_dir + "/mod_full.so");

    // ".so" is added unless the name already ends in exactly ".so".
    for (const char* leaf : {"anon.v1.so", "anon.so.so", "anon.SO.so"}) {
        fs::create_symlink(k_dir + "/mod_anon.so", scratch / leaf);
    }
    rec.seen.clear();
    EXPECT_EQ(load("anon.so"), nullptr);
    EXPECT_NE(load("anon.v1"), nullptr);
    EXPECT_NE(load("anon.SO"), nullptr);
    ASSERT_EQ(rec.seen.size(), 4u);
    EXPECT_EQ(rec.seen[0].path, scratch.string() + "/anon.v1.so");
    EXPECT_EQ(rec.seen[2].path, scratch.string() + "/anon.SO.so");
    // Libraries are told apart by path: one file under two names is listed
    // twice.
    EXPECT_EQ(library_names(), (names{"mod_full", "", ""}));
}

TEST_F(LibraryTest, ModulesShortOfTheProtocol)
{
    // Without its own vek_library_initialized the module is loaded but no
    // library (vek_core.so's export must not count for it), not announced,
    // and its entry is not called.
    EXPECT_NE(load("mod_no_init"), nullptr);
    EXPECT_FALSE(vek_library_loaded("mod_no_init"));
    EXPECT_EQ(vek_core()->get_service("svc_mod_no_init"), nullptr);

    // Not ready: announced, listed, but the load fails. An entry that throws
    // fails the same way, with a log line.
    EXPECT_EQ(load("mod_false"), nullptr);
    EXPECT_EQ(rec.events(), names{"load:mod_false"});
    EXPECT_TRUE(vek_library_loaded("mod_false"));
    vek_test::trace_to_stdout();
    std::string out = failed_load("mod_throw");
    EXPECT_NE(out.find("/mod_throw.so): the entry of 'mod_throw' threw: no database\n"), std::string::npos) << out;
    vek_enable_trace(false);

    // Without name and version the library has empty ones, not vek_core's.
    EXPECT_NE(load("mod_anon"), nullptr);
    EXPECT_EQ(rec.events(), (names{"load:mod_false", "load:mod_throw", "load:", "post:"}));
    EXPECT_EQ(rec.seen[2].version, "");
    EXPECT_EQ(library_names(), (names{"mod_false", "mod_throw", ""}));

    // The path of the failed load is taken: its handle comes back now, unannounced.
    EXPECT_NE(load("mod_false"), nullptr);
    EXPECT_EQ(rec.seen.size(), 4u);
}

TEST_F(LibraryTest, BadInputAndLoadErrorsYieldNullWithTheirTraceLines)
{
    setenv("VEK_ROOT_PATH", scratch.c_str(), 1);
    setenv("PATH", "/nonexistent", 1);
    std::ofstream(scratch / "bad.so") << "not a shared object\n";
    vek_test::trace_to_stdout();
    EXPECT_EQ(failed_load(nullptr) + failed_load(""), "");

    std::string out = failed_load("x");
    EXPECT_NE(out.find(": core::load_library(x)\n"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;

    out = failed_load("bad");
    const std::string error = ": Error loading library " + scratch.string() + "/bad.so: ";
    std::size_t at = out.find(error);
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_NE(out[at + error.size()], '\n') << out;  // the system's message follows
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    EXPECT_TRUE(rec.seen.empty());
    EXPECT_EQ(library_names(), names{});
}

TEST_F(LibraryTest, LoadsTheHttpModule)
{
    ASSERT_NE(load(VEK_HTTP_SO), nullptr);
    EXPECT_TRUE(vek_library_loaded("vek_http"));
    EXPECT_EQ(rec.events(), (names{"load:vek_http", "post:vek_http"}));
    EXPECT_EQ(rec.seen[0].version, "1.0.0");
}

TEST(LibraryLoadTest, TheCoreLoadsItselfAsALibraryAndRunsItsEntry)
{
    vek_test::quiet_trace();
    ASSERT_TRUE(vek_initialize());
    EXPECT_EQ(vek_core()->get_service("svc_event"), nullptr);
    ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);
    vek::i_object* svc = vek_core()->get_service("svc_event");
    EXPECT_NE(svc, nullptr);  // the entry ran
    vek_release(svc);
    vek::i_vek_library* lib = listed("vek_core");
    ASSERT_NE(lib, nullptr);
    EXPECT_STREQ(lib->get_version(), "3.18.0152");
    EXPECT_STREQ(lib->get_path(), VEK_CORE_SO);
    lib->release();
    vek_terminate();
    EXPECT_EQ(vek_core(), nullptr);
}
