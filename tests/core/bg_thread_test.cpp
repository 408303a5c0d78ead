#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_support.h"

using vek_test::wait_for;

namespace {

// What one task saw. The argument block holds `self`, so the block's copy
// can be told from the caller's.
struct record {
    record* self = this;
    std::atomic<int> runs{0}, refusals{0};
    std::atomic<unsigned long> thread{0};
    std::atomic<bool> hold{true};  // keeps the task busy while true
    const void* block = nullptr;

    static void task(bool run, void* args, unsigned int)
    {
        record* r = *static_cast<record**>(args);
        r->block = args;
        r->thread = vek_get_thread_id();
        while (run && r->hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++(run ? r->runs : r->refusals);
    }
    // True when the task was not refused.
    bool start()
    {
        vek_bg_thread(task, &self, sizeof self);
        return refusals == 0;
    }
};

}  // namespace

using BgThreadTest = vek_test::entered_library_test;

// Ends with the pool full of busy tasks, which terminating waits for.
TEST_F(BgThreadTest, TasksRunOnIdleOrNewPoolThreadsUpToTheMaximumThenCallersWaitAndGiveUp)
{
    vek_terminate();
    vek_test::env_guard env({"VEK_MAX_THREADS_COUNT"});
    setenv("VEK_MAX_THREADS_COUNT", "11", 1);
    ASSERT_TRUE(vek_initialize());
    vek_library_entry();

    // A task gets a private copy of the block (and a pool thread: a task run
    // in the caller's thread would keep the starter below from placing more).
    record quick, busy[12], after;
    quick.hold = false;
    quick.start();
    ASSERT_TRUE(wait_for([&] { return quick.runs == 1; }));
    EXPECT_NE(quick.block, &quick.self);
    // Its thread goes back to the idle queue just after the task returns.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    // A starter thread keeps placing busy tasks: the first takes the idle
    // thread, each later one a new thread. The maximum counts every library
    // thread, so the starter blocks once the pool is full.
    std::atomic<int> placed{0};
    std::atomic<unsigned long> starter_id{0};
    std::thread starter([&] {
        starter_id = vek_get_thread_id();
        while (placed < 12 && busy[placed].start()) ++placed;
    });
    int seen = -1;  // until it settles: the starter waits for capacity
    for (; seen != placed; std::this_thread::sleep_for(std::chrono::milliseconds(300))) seen = placed;
    ASSERT_GT(seen, 1);
    ASSERT_LT(seen, 11);
    ASSERT_TRUE(wait_for([&] { return busy[1].thread != 0; }));
    EXPECT_EQ(busy[0].thread, quick.thread);
    EXPECT_NE(busy[1].thread, busy[0].thread);

    // Capacity that frees up is used: the waiting task takes that thread.
    busy[0].hold = false;
    ASSERT_TRUE(wait_for([&] { return placed == seen + 1; }));
    EXPECT_TRUE(wait_for([&] { return busy[seen].thread == busy[0].thread; }));

    // None frees: the next task is refused in the caller's thread, with the
    // caller's block.
    starter.join();
    EXPECT_EQ(busy[seen + 1].refusals, 1);
    EXPECT_EQ(busy[seen + 1].thread, starter_id);
    EXPECT_EQ(busy[seen + 1].block, &busy[seen + 1].self);

    // Terminating returns only after the busy tasks end; then tasks are
    // refused (a null task is ignored).
    std::thread freer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (auto& r : busy) r.hold = false;
    });
    vek_terminate();
    for (int i = 0; i <= seen; ++i) EXPECT_EQ(busy[i].runs, 1) << i;
    freer.join();
    vek_bg_thread(nullptr, nullptr, 0);
    EXPECT_FALSE(after.start());
}
