// A core whose library was loaded through load_library, so every script
// engine has the package "vek_core"; rooted in a scratch directory.
#ifndef VEK_TESTS_SCRIPT_SCRIPT_SUPPORT_H
#define VEK_TESTS_SCRIPT_SCRIPT_SUPPORT_H

#include <sys/stat.h>
#include <tcl.h>

#include <fcntl.h>

#include <functional>
#include <mutex>

#include "test_support.h"

namespace vek_test {

class script_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        quiet_trace();
        root = scratch_path("vek_script");
        std::filesystem::create_directories(root);
        setenv("VEK_ROOT_PATH", root.c_str(), 1);
        ASSERT_TRUE(vek_initialize());
        ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);
        svc_obj = vek_core()->get_service("svc_script");
        svc = vek_cast_i_script_service(svc_obj);
        ASSERT_NE(svc, nullptr);
    }
    void TearDown() override
    {
        vek_release(svc_obj);
        vek_terminate();
        std::filesystem::remove_all(root);
    }
    // Writes `text` to root/name and sets its modification time.
    std::string write(const std::string& name, const std::string& text, time_t mtime = 1000000)
    {
        std::filesystem::path p = root / name;
        std::FILE* f = std::fopen(p.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        touch(p.string(), mtime);
        return p.string();
    }
    static void touch(const std::string& path, time_t mtime)
    {
        timespec times[2] = {{mtime, 0}, {mtime, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
    }

    std::filesystem::path root;
    vek::i_object* svc_obj = nullptr;
    vek::i_script_service* svc = nullptr;

private:
    env_guard m_env{"VEK_ROOT_PATH", "VEK_SCRIPT_PATH", "NET_IO_SCRIPT_PATH"};
};

// A script test that holds the calling thread's engine as `e`.
class engine_test : public script_test {
protected:
    void SetUp() override
    {
        script_test::SetUp();
        e = svc->get_script_engine();
        ASSERT_NE(e, nullptr);
    }
    void TearDown() override
    {
        vek_release(e);
        script_test::TearDown();
    }
    vek::i_script_engine* e = nullptr;
};

// A framework (Tcl) thread that runs the jobs it is given, one at a time,
// until stopped; its thread-exit handlers run when it ends.
class worker : public vek::object, public vek::thread_creator {
public:
    ~worker() override { stop(); }
    void start()
    {
        ASSERT_TRUE(create_thread(this, static_cast<vek::thread_creator::thread_function>(&worker::loop), nullptr));
        ASSERT_TRUE(wait_for([&] { return m_started.load(); }));
    }
    // Runs `job` in the thread and waits for it.
    void run(std::function<void()> job)
    {
        post(std::move(job));
        wait();
    }
    // Gives the idle thread `job` without waiting.
    void post(std::function<void()> job)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_job = std::move(job);
    }
    void wait()
    {
        ASSERT_TRUE(wait_for([&] {
            std::lock_guard<std::mutex> lock(m_lock);
            return !m_job;
        }));
    }
    // Ends the thread and waits until its exit handlers have run.
    void stop()
    {
        if (!m_started) return;
        stop_threads(5);
        EXPECT_TRUE(wait_for([&] { return m_exited.load(); }));
    }

private:
    void loop(void*)
    {
        // Registered first, so it runs after every handler registered later.
        Tcl_CreateThreadExitHandler([](ClientData w) { static_cast<worker*>(w)->m_exited = true; }, this);
        m_started = true;
        while (thread_running()) {
            std::function<void()> job;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                job = m_job;
            }
            if (job) {
                job();
                std::lock_guard<std::mutex> lock(m_lock);
                m_job = nullptr;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    std::mutex m_lock;
    std::function<void()> m_job;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_exited{false};
};

// The engine's own text for a Tcl expression's value, or "<error>".
inline std::string tcl_value(vek::i_script_engine* e, const std::string& expr)
{
    e->reset();
    if (!e->execute_text(("puts " + expr).c_str())) return "<error>";
    return e->get_output();
}

}  // namespace vek_test

#endif
