#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_support.h"

namespace {

class tick_counter : public vek::object {
public:
    std::atomic<int> ticks{0};
    std::atomic<unsigned long> thread{0};

    bool on_tick(vek::i_event*)
    {
        thread = vek_get_thread_id();
        ++ticks;
        return true;
    }
};

}  // namespace

TEST(TickTest, EnteringTheLibraryStartsTheSecondTickAndItsEvent)
{
    vek_test::quiet_trace();
    ASSERT_TRUE(vek_initialize());
    vek::i_object* svc = vek_core()->get_service("svc_event");
    EXPECT_EQ(svc, nullptr);  // arrives with the library entry
    vek_library_entry();
    svc = vek_core()->get_service("svc_event");
    ASSERT_NE(vek_cast_i_event_proc(svc), nullptr);
    vek_release(svc);

    tick_counter counter;
    auto callback = static_cast<vek::vek_event_function>(&tick_counter::on_tick);
    vek_install_handler("VEK_CORE_EVT_BG_TASK", 0, &counter, callback);
    unsigned int first = vek_get_curr_time();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3500);
    while (counter.ticks < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(counter.ticks.load(), 2);
    EXPECT_GT(vek_get_curr_time(), first);                  // the clock follows the tick
    EXPECT_NE(counter.thread.load(), vek_get_thread_id());  // queued: a pool thread
    vek_uninstall_handler("VEK_CORE_EVT_BG_TASK", 0, &counter, callback);
    vek_terminate();
}
