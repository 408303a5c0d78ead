#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_support.h"

using vek_test::count_of;
using vek_test::wait_for;

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

// A stream whose connection the test cuts.
class fake_stream : public vek::object, public vek::i_typed_object_impl, public vek::i_stream {
public:
    std::atomic<bool> connected{true};
    std::atomic<int> turns{0};
    std::atomic<int> disconnects{0};

    bool disconnect() override
    {
        ++disconnects;
        return true;
    }
    bool is_connected() override { return connected; }
    bool lock(unsigned int) override { return true; }
    void unlock() override {}
    bool bg_task() override
    {
        ++turns;
        return true;
    }
    unsigned int get_start_time() override { return 0; }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_stream") != 0) return object::get_interface(iface_name, pp_obj);
        *pp_obj = static_cast<vek::i_stream*>(this);
        return true;
    }
};

class CoreThreadsTest : public ::testing::Test {
protected:
    // Enters the library the way a configuration does: by loading it.
    void SetUp() override
    {
        vek_test::quiet_trace();
        ASSERT_TRUE(vek_initialize());
        ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);
    }
    void TearDown() override { vek_terminate(); }
};

}  // namespace

TEST_F(CoreThreadsTest, TheTickAdvancesTheClockAndQueuesItsEventEverySecond)
{
    tick_counter counter;
    auto callback = static_cast<vek::vek_event_function>(&tick_counter::on_tick);
    vek_install_handler("VEK_CORE_EVT_BG_TASK", 0, &counter, callback);
    unsigned int first = vek_get_curr_time();
    EXPECT_TRUE(wait_for([&] { return counter.ticks >= 2; }, 3500));
    EXPECT_GT(vek_get_curr_time(), first);
    EXPECT_NE(counter.thread.load(), vek_get_thread_id());  // queued: a pool thread
    vek_uninstall_handler("VEK_CORE_EVT_BG_TASK", 0, &counter, callback);
    vek_terminate();  // waits for the pool before `counter` goes
    ASSERT_TRUE(vek_initialize());
}

TEST_F(CoreThreadsTest, TheWatchServesStreamsAndDropsDisconnectedOnes)
{
    auto* s = new fake_stream();
    s->addref();
    vek_register_stream(s);
    ASSERT_TRUE(wait_for([&] { return s->turns >= 2; }));
    EXPECT_EQ(s->disconnects.load(), 0);
    s->connected = false;
    ASSERT_TRUE(wait_for([&] { return count_of(s) == 1; }));  // the core let go
    EXPECT_EQ(s->disconnects.load(), 1);
    int turns = s->turns;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(s->turns.load(), turns);  // no longer served
    s->release();
}
