#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using vek_test::count_of;

namespace {

std::vector<std::string> g_destroyed;

// Records the order in which services are destroyed.
class recorded : public vek::object {
public:
    explicit recorded(const char* name) : m_name(name) {}
    ~recorded() override { g_destroyed.push_back(m_name); }

private:
    std::string m_name;
};

std::string run_terminate_capturing_trace()
{
    testing::internal::CaptureStdout();
    vek_terminate();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(LifecycleTest, InitializeOnceThenTerminateThenAgain)
{
    vek_test::quiet_trace();
    ASSERT_TRUE(vek_initialize());
    vek::i_core* first = vek_core();
    EXPECT_TRUE(vek_is_running());
    EXPECT_FALSE(vek_initialize());
    EXPECT_EQ(vek_core(), first);
    EXPECT_NE(vek_get_curr_time(), 0u);
    // The core's map holds the only reference to each of the first services.
    std::vector<std::pair<const char*, const char*>> services = {{"svc_encrypt", "i_encryptor"},
                                                                 {"svc_md5_encoder", "i_md5_encoder"},
                                                                 {"svc_string", "i_string_proc"},
                                                                 {"svc_xml", "i_xml_proc"}};
    vek::i_object_col* list = first->get_services();
    ASSERT_EQ(list->get_count(), services.size());
    for (unsigned int i = 0; i < services.size(); ++i) {
        vek::i_object* svc = first->get_service(services[i].first);
        vek::i_object* listed = list->get_item_by_pos(i);
        void* iface = nullptr;
        EXPECT_TRUE(svc != nullptr && svc->get_interface(services[i].second, &iface)) << services[i].first;
        EXPECT_EQ(listed, svc);
        EXPECT_EQ(count_of(svc), 4);  // the core's, the list's, and the two here
        vek_release(listed);
        vek_release(svc);
    }
    list->release();
    vek_terminate();
    EXPECT_EQ(vek_core(), nullptr);
    EXPECT_FALSE(vek_is_running());
    EXPECT_EQ(vek_get_curr_time(), 0u);
    ASSERT_TRUE(vek_initialize());
    vek_terminate();
}

TEST(LifecycleTest, RootAndTempPathsFollowTheEnvironment)
{
    vek_test::quiet_trace();
    vek_test::env_guard env({"VEK_ROOT_PATH", "TEMP", "TMP"});
    fs::path old_dir = fs::current_path();
    fs::path base = vek_test::scratch_path("vek_lifecycle");
    fs::path dir = base / "a\\b";  // a backslash is an ordinary character here
    fs::create_directories(dir);
    fs::current_path(dir);
    unsetenv("VEK_ROOT_PATH");
    setenv("TEMP", "/from/temp", 1);
    setenv("TMP", "/from/tmp", 1);

    ASSERT_TRUE(vek_initialize());
    std::string root = dir.string();
    std::replace(root.begin(), root.end(), '\\', '/');
    EXPECT_EQ(std::getenv("VEK_ROOT_PATH"), root);
    EXPECT_STREQ(vek_temp_path(), "/from/temp");
    vek_terminate();

    setenv("VEK_ROOT_PATH", dir.c_str(), 1);
    fs::create_directory(dir / "tmp");
    ASSERT_TRUE(vek_initialize());
    EXPECT_EQ(vek_temp_path(), dir.string() + "/tmp");
    vek_terminate();

    fs::remove(dir / "tmp");
    unsetenv("TEMP");
    ASSERT_TRUE(vek_initialize());
    EXPECT_STREQ(vek_temp_path(), "/from/tmp");
    vek_terminate();

    std::string long_value(1500, 'x');
    setenv("TEMP", long_value.c_str(), 1);
    ASSERT_TRUE(vek_initialize());
    EXPECT_EQ(vek_temp_path(), long_value.substr(0, 1023));
    vek_terminate();

    fs::current_path(old_dir);
    fs::remove_all(base);
}

TEST(LifecycleTest, TerminateReleasesServicesInNameOrderAndTraces)
{
    vek_test::trace_to_stdout();
    std::string idle = run_terminate_capturing_trace();
    EXPECT_NE(idle.find(": vek_terminate()\n"), std::string::npos);
    EXPECT_EQ(std::count(idle.begin(), idle.end(), '\n'), 1);  // no core: nothing else

    vek_set_trace_facility("stdout");
    ASSERT_TRUE(vek_initialize());
    // Make room for recorded stand-ins of the library's own services.
    for (const char* name : {"svc_xml", "svc_md5_encoder", "svc_string", "svc_encrypt"}) {
        ASSERT_TRUE(vek_core()->unregister_service(name));
    }
    g_destroyed.clear();
    for (const char* name : {"svc_xml", "svc_encrypt", "env_config_reloader", "svc_string", "svc_md5_encoder"}) {
        ASSERT_TRUE(vek_core()->register_service(new recorded(name), name));
    }
    auto* kept = new recorded("kept");  // somebody else still holds it
    kept->addref();
    ASSERT_TRUE(vek_core()->register_service(kept, "svc_kept"));

    std::string out = run_terminate_capturing_trace();
    EXPECT_EQ(g_destroyed, (std::vector<std::string>{"env_config_reloader", "svc_encrypt", "svc_md5_encoder",
                                                     "svc_string", "svc_xml"}));
    EXPECT_EQ(count_of(kept), 1);
    kept->release();
    std::size_t a = out.find(": vek_terminate()\n");
    std::size_t b = out.find(": core: releasing services...\n");
    std::size_t c = out.find(": core: services released.\n");
    ASSERT_NE(c, std::string::npos);
    EXPECT_TRUE(a < b && b < c) << out;
}

TEST(LifecycleTest, NextIdIsUniqueAcrossThreads)
{
    long long first = vek_get_next_id();
    std::vector<std::vector<long long>> seen(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&seen, t] {
            for (int i = 0; i < 10000; ++i) seen[t].push_back(vek_get_next_id());
        });
    }
    for (auto& t : threads) t.join();
    std::set<long long> all;
    for (auto& v : seen) all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), 80000u);
    EXPECT_EQ(*all.begin(), first + 1);
    EXPECT_EQ(*all.rbegin(), first + 80000);
}

TEST(LifecycleTest, RegisteredStreamsAreHeldUntilTheCoreEnds)
{
    struct fake_stream : vek::object, vek::i_typed_object_impl, vek::i_stream {
        int* destroyed;
        explicit fake_stream(int* d) : destroyed(d) {}
        ~fake_stream() override { ++*destroyed; }
        bool disconnect() override { return true; }
        bool is_connected() override { return true; }
        bool lock(unsigned int) override { return true; }
        void unlock() override {}
        bool bg_task() override { return true; }
        unsigned int get_start_time() override { return 0; }
    };
    vek_test::quiet_trace();
    int destroyed = 0;
    auto* s = new fake_stream(&destroyed);
    s->addref();
    vek_register_stream(s);  // no core: ignored
    EXPECT_EQ(count_of(s), 1);
    ASSERT_TRUE(vek_initialize());
    vek_register_stream(nullptr);
    vek_register_stream(s);
    EXPECT_EQ(count_of(s), 2);
    s->release();
    vek_terminate();
    EXPECT_EQ(destroyed, 1);
}
