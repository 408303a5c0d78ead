#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using vek_test::count_of;

namespace {

std::vector<std::string> g_destroyed;

// Records the order in which services are destroyed.
struct recorded : vek::object {
    std::string name;
    explicit recorded(const char* n) : name(n) {}
    ~recorded() override { g_destroyed.push_back(name); }
};

struct idle_stream : vek::i_stream_impl {
    bool disconnect() override { return true; }
    bool is_connected() override { return true; }
};

// Runs vek_terminate; its trace lines without the time stamps.
std::string terminate_traced()
{
    testing::internal::CaptureStdout();
    vek_terminate();
    std::fflush(stdout);
    std::istringstream in(testing::internal::GetCapturedStdout());
    std::string out;
    for (std::string line; std::getline(in, line);) {
        line.erase(0, 21);
        if (line.rfind("vek_terminate: done in ", 0) == 0) line = "vek_terminate: done";
        out += line + "\n";
    }
    return out;
}

std::atomic<bool> g_release{false};

// A pool task that does not return until the test lets it (30 s at most).
void held_task(bool, void*, unsigned int)
{
    for (int i = 0; i < 3000 && !g_release; ++i) sleepms(10);
}

// A handler that holds its delivery thread like held_task.
struct held_handler : vek::object {
    bool on_event(vek::i_event*)
    {
        held_task(true, nullptr, 0);
        return true;
    }
};

// The live status as text.
std::string status_xml()
{
    auto_ptr_t<vek::i_xml_node> status = vek_get_status();
    char* xml = status.is_ok() ? status->get_xml(false) : nullptr;
    std::string text = xml != nullptr ? xml : "";
    std::free(xml);
    return text;
}

}  // namespace

// The first core holds its services and registered streams and leaves
// nothing behind; the next releases its services in name order, leaving
// ones that others hold.
TEST(LifecycleTest, ACoreStartsOnceHoldsWhatItOwnsAndEndsInOrder)
{
    vek_test::quiet_trace();
    auto_ptr_t<idle_stream> stream = new idle_stream;
    stream->addref();
    vek_register_stream(stream);  // no core: ignored
    EXPECT_EQ(count_of(stream), 1);

    ASSERT_TRUE(vek_initialize());
    vek::i_core* first = vek_core();
    EXPECT_TRUE(vek_is_running() && vek_get_curr_time() != 0);
    EXPECT_FALSE(vek_initialize());
    EXPECT_EQ(vek_core(), first);
    // The core's map holds the only reference to each of the first services.
    for (const char* name : {"svc_encrypt", "svc_md5_encoder", "svc_string", "svc_xml"}) {
        auto_ptr_t<vek::i_object> svc = first->get_service(name);
        EXPECT_EQ(svc.is_ok() ? count_of(svc) : 0, 2) << name;  // the core's and ours
    }
    vek_register_stream(nullptr);
    vek_register_stream(stream);
    EXPECT_EQ(count_of(stream), 2);
    vek_terminate();
    EXPECT_EQ(count_of(stream), 1);
    EXPECT_TRUE(vek_core() == nullptr && !vek_is_running() && vek_get_curr_time() == 0);
    vek_test::trace_to_stdout();
    EXPECT_EQ(terminate_traced(), "vek_terminate()\n");  // no core: nothing else

    ASSERT_TRUE(vek_initialize());
    g_destroyed.clear();
    for (const char* name : {"svc_xml", "svc_encrypt", "env_config_reloader", "svc_string", "svc_md5_encoder"}) {
        vek_core()->unregister_service(name);  // the library's own, where there is one
        ASSERT_TRUE(vek_core()->register_service(new recorded(name), name));
    }
    auto_ptr_t<recorded> kept = new recorded("kept");
    kept->addref();
    ASSERT_TRUE(vek_core()->register_service(kept, "svc_kept"));
    EXPECT_EQ(terminate_traced(),
              "vek_terminate()\ncore: releasing services...\ncore: services released.\nvek_terminate: done\n");
    EXPECT_EQ(g_destroyed, (std::vector<std::string>{"env_config_reloader", "svc_encrypt", "svc_md5_encoder",
                                                     "svc_string", "svc_xml"}));
    EXPECT_EQ(count_of(kept), 1);
}

// The status shows the library's threads at work; a task that does not
// return is named while the shutdown waits, its module stays loaded, and
// it is reported until it ends.
TEST(LifecycleTest, StatusShowsThreadsAtWorkAndTheShutdownNamesOneThatHangs)
{
    vek_test::quiet_trace();
    vek_test::env_guard env({"VEK_MAX_THREADS_COUNT"});
    setenv("VEK_MAX_THREADS_COUNT", "11", 1);  // the fewest allowed
    ASSERT_TRUE(vek_initialize());
    vek_library_entry();
    g_release = false;
    vek_bg_thread(held_task, nullptr, 0);
    // More stuck events than the thread limit lets delivery threads take:
    // the rest wait in the queue.
    static held_handler handler;  // outlives the threads it holds
    vek_install_handler("t.stuck", 0, &handler, static_cast<vek::vek_event_function>(&held_handler::on_event));
    for (int i = 0; i < 12; ++i) vek_generate_event("t.stuck", i, nullptr, false);
    // Every thread at work, the tick and the stream watch (which may still
    // be starting) are listed.
    std::string xml;
    const std::string parts[] = {"<thread role=\"pool\" state=\"busy\" doing=\"task ",
                                 " in core_tests\" for=\"",
                                 "<thread role=\"delivery\" state=\"busy\" doing=\"event t.stuck\" for=\"",
                                 "<thread role=\"tick\" state=\"idle\"/>",
                                 "<thread role=\"stream watch\" state=\"idle\"/>",
                                 "<service name=\"svc_event\"/>"};
    EXPECT_TRUE(vek_test::wait_for(
        [&] {
            xml = status_xml();
            return std::all_of(std::begin(parts), std::end(parts),
                               [&](const std::string& p) { return xml.find(p) != std::string::npos; });
        },
        5000))
        << xml;
    EXPECT_TRUE(vek_test::wait_for(
        [&] {
            auto_ptr_t<vek::i_xml_node> status = vek_get_status();
            auto_ptr_t<vek::i_xml_node> events = status.is_ok() ? status->select_single_node("events") : nullptr;
            if (!events.is_ok()) return false;
            const int queued = std::atoi(events->get_attribute("queued")), busy = std::atoi(events->get_attribute("busy"));
            return queued > 0 && queued + busy == 12 && std::atof(events->get_attribute("oldest")) > 0;
        },
        5000));
    vek_test::trace_to_stdout();
    const std::string out = terminate_traced();  // waits its 10 s
    EXPECT_NE(out.find("\nvek_terminate: still running: "), std::string::npos) << out;
    EXPECT_NE(out.find("pool: task "), std::string::npos) << out;
    EXPECT_NE(out.find("delivery: event t.stuck for "), std::string::npos) << out;
    EXPECT_NE(out.find(" thread(s) still run\nvek_terminate: done\n"),
              std::string::npos)
        << out;
    char* left = vek_get_thread_report();
    EXPECT_NE(std::string(left != nullptr ? left : "").find("pool: task "), std::string::npos);
    std::free(left);
    g_release = true;
    EXPECT_TRUE(vek_test::wait_for(
        [] {
            char* l = vek_get_thread_report();
            std::free(l);
            return l == nullptr;
        },
        5000));
}

// Without "VEK_ROOT_PATH" the root is the current directory, backslashes
// made slashes. The temp path is the root's "tmp" directory when there is
// one, else "TEMP", else "TMP", cut to 1023 bytes.
TEST(LifecycleTest, RootAndTempPathsFollowTheEnvironment)
{
    vek_test::quiet_trace();
    vek_test::env_guard env({"VEK_ROOT_PATH", "TEMP", "TMP"});
    const fs::path old_dir = fs::current_path(), base = vek_test::scratch_path("vek_lifecycle"), dir = base / "a\\b";
    fs::create_directories(dir);
    fs::current_path(dir);
    setenv("TMP", "/from/tmp", 1);
    const std::string d = dir.string(), long_temp(1500, 'x');
    // {VEK_ROOT_PATH, TEMP (null: unset), the root has "tmp", "<root> <temp path>"}
    const std::tuple<const char*, const char*, bool, std::string> steps[] = {
        {nullptr, long_temp.c_str(), false, base.string() + "/a/b " + long_temp.substr(0, 1023)},
        {d.c_str(), "/from/temp", true, d + " " + d + "/tmp"},
        {d.c_str(), nullptr, false, d + " /from/tmp"}};
    for (const auto& [root_path, temp, tmp_dir, expected] : steps) {
        root_path != nullptr ? setenv("VEK_ROOT_PATH", root_path, 1) : unsetenv("VEK_ROOT_PATH");
        temp != nullptr ? setenv("TEMP", temp, 1) : unsetenv("TEMP");
        tmp_dir ? fs::create_directory(dir / "tmp") : fs::remove(dir / "tmp");
        ASSERT_TRUE(vek_initialize());
        const char* root = std::getenv("VEK_ROOT_PATH");
        EXPECT_EQ((root != nullptr ? root : "(unset)") + std::string(" ") + vek_temp_path(), expected);
        vek_terminate();
    }
    fs::current_path(old_dir);
    fs::remove_all(base);
}
