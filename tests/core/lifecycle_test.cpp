#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using vek_test::count_of;

namespace {

// Records the order in which services are destroyed.
std::vector<std::string> g_destroyed;

class recorded : public vek::object {
public:
    explicit recorded(const char* name) : m_name(name) {}
    ~recorded() override { g_destroyed.push_back(m_name); }

private:
    std::string m_name;
};

// A scratch directory that becomes the current directory, restored after.
class scratch_dir {
public:
    explicit scratch_dir(const std::string& leaf)
    {
        m_old = fs::current_path();
        m_base = vek_test::scratch_path("vek_lifecycle");
        m_path = m_base / leaf;
        fs::create_directories(m_path);
        fs::current_path(m_path);
    }
    ~scratch_dir()
    {
        fs::current_path(m_old);
        fs::remove_all(m_base);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_old, m_base, m_path;
};

}  // namespace

TEST(LifecycleTest, InitializeTwiceDoesNothingTheSecondTime)
{
    vek_test::quiet_trace();
    EXPECT_FALSE(vek_is_running());
    ASSERT_TRUE(vek_initialize());
    vek::i_core* first = vek_core();
    EXPECT_FALSE(vek_initialize());
    EXPECT_EQ(vek_core(), first);
    EXPECT_NE(vek_get_curr_time(), 0u);
    vek_terminate();
    EXPECT_EQ(vek_core(), nullptr);
    EXPECT_FALSE(vek_is_running());
    EXPECT_EQ(vek_get_curr_time(), 0u);
    // A new core after terminate.
    ASSERT_TRUE(vek_initialize());
    EXPECT_NE(vek_core(), nullptr);
    vek_terminate();
}

TEST(LifecycleTest, RootPathComesFromTheCurrentDirectoryWithForwardSlashes)
{
    vek_test::env_guard env({"VEK_ROOT_PATH", "TEMP"});
    vek_test::quiet_trace();
    unsetenv("VEK_ROOT_PATH");
    scratch_dir dir("a\\b");
    setenv("TEMP", "/temp/from/env", 1);
    ASSERT_TRUE(vek_initialize());
    std::string expected = dir.path().string();
    for (char& c : expected) {
        if (c == '\\') c = '/';
    }
    EXPECT_STREQ(std::getenv("VEK_ROOT_PATH"), expected.c_str());
    // No "tmp" under the root: TEMP is taken.
    EXPECT_STREQ(vek_temp_path(), "/temp/from/env");
    vek_terminate();
}

TEST(LifecycleTest, TempPathPrefersTheRootsTmpThenTempThenTmp)
{
    vek_test::env_guard env({"VEK_ROOT_PATH", "TEMP", "TMP"});
    vek_test::quiet_trace();
    scratch_dir dir("root");
    setenv("VEK_ROOT_PATH", dir.path().c_str(), 1);
    unsetenv("TEMP");
    setenv("TMP", "/tmp/from/tmp", 1);
    ASSERT_TRUE(vek_initialize());
    EXPECT_STREQ(vek_temp_path(), "/tmp/from/tmp");
    vek_terminate();

    unsetenv("TMP");
    ASSERT_TRUE(vek_initialize());
    EXPECT_STREQ(vek_temp_path(), "");
    vek_terminate();

    fs::create_directory(dir.path() / "tmp");
    setenv("TEMP", "/ignored", 1);
    ASSERT_TRUE(vek_initialize());
    EXPECT_EQ(std::string(vek_temp_path()), dir.path().string() + "/tmp");
    vek_terminate();

    std::string long_value(1500, 'x');
    fs::remove(dir.path() / "tmp");
    setenv("TEMP", long_value.c_str(), 1);
    ASSERT_TRUE(vek_initialize());
    EXPECT_EQ(std::string(vek_temp_path()), long_value.substr(0, 1023));
    vek_terminate();
}

TEST(LifecycleTest, TerminateWithoutCoreOnlyTraces)
{
    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    vek_terminate();
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(": vek_terminate()\n"), std::string::npos);
    EXPECT_EQ(out.find("core:"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

TEST(LifecycleTest, TerminateReleasesServicesInNameOrderAndTraces)
{
    vek_test::trace_to_stdout();
    ASSERT_TRUE(vek_initialize());
    g_destroyed.clear();
    for (const char* name : {"svc_xml", "svc_encrypt", "env_config_reloader", "svc_string"}) {
        ASSERT_TRUE(vek_core()->register_service(new recorded(name), name));
    }
    // A service somebody still holds outlives the shutdown.
    auto* kept = new recorded("kept");
    kept->addref();
    ASSERT_TRUE(vek_core()->register_service(kept, "svc_kept"));

    testing::internal::CaptureStdout();
    vek_terminate();
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(g_destroyed, (std::vector<std::string>{"env_config_reloader", "svc_encrypt", "svc_string", "svc_xml"}));
    EXPECT_EQ(count_of(kept), 1);
    kept->release();
    std::size_t a = out.find(": vek_terminate()\n");
    std::size_t b = out.find(": core: releasing services...\n");
    std::size_t c = out.find(": core: services released.\n");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
}

TEST(LifecycleTest, NextIdIsUniqueAcrossThreads)
{
    long long first = vek_get_next_id();
    EXPECT_GE(first, 1);
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
    vek_test::quiet_trace();
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
    int destroyed = 0;
    auto* s = new fake_stream(&destroyed);
    s->addref();
    vek_register_stream(s);  // no core: nothing happens
    EXPECT_EQ(count_of(s), 1);
    ASSERT_TRUE(vek_initialize());
    vek_register_stream(nullptr);
    vek_register_stream(s);
    EXPECT_EQ(count_of(s), 2);
    s->release();
    EXPECT_EQ(destroyed, 0);
    vek_terminate();
    EXPECT_EQ(destroyed, 1);
}

TEST(LifecycleTest, LibraryEntryAnswersTheProtocol)
{
    EXPECT_STREQ(vek_library_name(), "vek_core");
    EXPECT_STREQ(vek_library_version(), "3.18.0152");
    EXPECT_TRUE(vek_library_initialized());
    vek_release(nullptr);
}
