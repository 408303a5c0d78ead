// Small helpers shared by the tests.
#ifndef VEK_TESTS_TEST_SUPPORT_H
#define VEK_TESTS_TEST_SUPPORT_H

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include <vek/vek_core.h>

namespace vek_test {

// The current reference count of `obj`, read without changing it.
inline int count_of(vek::i_object* obj)
{
    obj->addref();
    return obj->release();
}

// A named, identified object that counts its live instances.
class probe : public vek::object, public vek::i_named_object_impl, public vek::i_typed_object_impl {
public:
    static inline std::atomic<int> live{0};

    explicit probe(const char* name = "", long long id = 0)
    {
        set_name(name);
        m_id = id;
        ++live;
    }
    ~probe() override { --live; }

    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_named_object") == 0) {
            *pp_obj = static_cast<vek::i_named_object*>(this);
            return true;
        }
        if (std::strcmp(iface_name, "i_typed_object") == 0) {
            *pp_obj = static_cast<vek::i_typed_object*>(this);
            return true;
        }
        return object::get_interface(iface_name, pp_obj);
    }
};

// Polls `pred` every millisecond until it holds or `ms` milliseconds
// pass. True when it held.
template <class Pred>
bool wait_for(Pred pred, int ms = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Quiet tracing for tests that bring the core up and down.
inline void quiet_trace()
{
    vek_enable_trace(false);
}

// A core with the library entered (services and threads running),
// taken down after each test.
class entered_library_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        quiet_trace();
        ASSERT_TRUE(vek_initialize());
        vek_library_entry();
    }
    void TearDown() override { vek_terminate(); }
};

// Tracing on, to standard output (vek_terminate leaves it with no
// destination).
inline void trace_to_stdout()
{
    vek_enable_trace(true);
    vek_set_trace_facility("stdout");
}

// A scratch directory that does not depend on the variables tests change.
inline std::filesystem::path scratch_path(const std::string& leaf)
{
    return std::filesystem::path("/tmp") / (leaf + "_" + std::to_string(::getpid()));
}

// Restores the named environment variables when it goes out of scope.
class env_guard {
public:
    explicit env_guard(std::initializer_list<const char*> names)
    {
        for (const char* name : names) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(name, value != nullptr ? std::make_pair(true, std::string(value))
                                                        : std::make_pair(false, std::string()));
        }
    }
    ~env_guard()
    {
        for (auto& entry : m_saved) {
            if (entry.second.first) {
                setenv(entry.first.c_str(), entry.second.second.c_str(), 1);
            } else {
                unsetenv(entry.first.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> m_saved;
};

// The whole contents of a file ("" when it cannot be read).
inline std::string read_text(const std::filesystem::path& p)
{
    std::FILE* f = std::fopen(p.c_str(), "rb");
    if (f == nullptr) return "";
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    return text;
}

// A core rooted in a scratch directory, so file names (trace and log
// facilities among them) resolve there; tracing on, log level 0.
class scratch_core_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = scratch_path("vek_scratch_core");
        std::filesystem::create_directories(root);
        setenv("VEK_ROOT_PATH", root.c_str(), 1);
        vek_enable_trace(true);
        vek_set_log_level(0);
        ASSERT_TRUE(vek_initialize());
    }
    void TearDown() override
    {
        vek_set_trace_facility("stdout");
        vek_terminate();
        std::filesystem::remove_all(root);
    }
    std::filesystem::path root;

private:
    env_guard m_env{"VEK_ROOT_PATH"};
};

}  // namespace vek_test

#endif
