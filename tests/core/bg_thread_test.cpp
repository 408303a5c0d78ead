#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "test_support.h"

using vek_test::wait_for;

namespace {

// What one task saw. Tasks get a pointer to their record in the argument
// block, so the block's copy can be told from the caller's.
struct record {
    std::atomic<int> runs{0};
    std::atomic<int> refusals{0};
    std::atomic<unsigned long> thread{0};
    std::atomic<bool> hold{false};  // keeps the task busy while true
    const void* block = nullptr;
};

void task(bool run, void* args, unsigned int size)
{
    record* r = *static_cast<record**>(args);
    r->block = args;
    r->thread = vek_get_thread_id();
    if (!run) {
        ++r->refusals;
        return;
    }
    while (r->hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++r->runs;
}

void start(record* r)
{
    vek_bg_thread(task, &r, sizeof r);
}

}  // namespace

using BgThreadTest = vek_test::entered_library_test;

TEST(BgThreadNoEntryTest, TasksAreRefusedInTheCallersThreadWithItsBlock)
{
    vek_test::quiet_trace();
    vek_bg_thread(nullptr, nullptr, 0);
    record r;
    record* args = &r;
    vek_bg_thread(task, &args, sizeof args);  // no core, not entered
    EXPECT_EQ(r.refusals.load(), 1);
    EXPECT_EQ(r.block, static_cast<const void*>(&args));
    EXPECT_EQ(r.thread.load(), vek_get_thread_id());
}

TEST_F(BgThreadTest, TasksRunOnPoolThreadsWithACopyAndThreadsAreReused)
{
    record a;
    a.hold = true;
    start(&a);  // returns while the task is still busy
    ASSERT_TRUE(wait_for([&] { return a.thread != 0; }));
    EXPECT_EQ(a.runs.load(), 0);
    EXPECT_NE(a.thread.load(), vek_get_thread_id());
    a.hold = false;
    ASSERT_TRUE(wait_for([&] { return a.runs == 1; }));
    // The argument block was a private copy.
    EXPECT_NE(a.block, nullptr);

    // The idle thread is taken first; while it is busy a second one is made.
    record b, c;
    b.hold = true;
    start(&b);
    ASSERT_TRUE(wait_for([&] { return b.thread != 0; }));
    EXPECT_EQ(b.thread.load(), a.thread.load());
    start(&c);
    ASSERT_TRUE(wait_for([&] { return c.runs == 1; }));
    EXPECT_NE(c.thread.load(), b.thread.load());
    b.hold = false;
    ASSERT_TRUE(wait_for([&] { return b.runs == 1; }));
}

TEST_F(BgThreadTest, AtTheMaximumACallerWaitsThenGivesUpAfterTenSeconds)
{
    vek_terminate();
    vek_test::env_guard env({"VEK_MAX_THREADS_COUNT"});
    setenv("VEK_MAX_THREADS_COUNT", "11", 1);
    ASSERT_TRUE(vek_initialize());
    vek_library_entry();

    // A starter thread keeps placing busy tasks; the maximum counts every
    // library thread, so it blocks once the pool is full.
    std::vector<record> busy(12);
    std::atomic<int> placed{0};
    std::atomic<unsigned long> starter_id{0};
    std::thread starter([&] {
        starter_id = vek_get_thread_id();
        for (auto& r : busy) {
            r.hold = true;
            start(&r);
            if (r.refusals != 0) break;
            ++placed;
        }
    });
    int seen = -1;
    while (seen != placed) {  // settled: the starter waits for capacity
        seen = placed;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_GT(seen, 0);
    ASSERT_LT(seen, 11);

    // Capacity that frees up is used: the waiting task takes that thread.
    busy[0].hold = false;
    ASSERT_TRUE(wait_for([&] { return placed == seen + 1; }));
    EXPECT_TRUE(wait_for([&] { return busy[seen].thread == busy[0].thread.load(); }));

    // None frees: the next task is refused in the caller's thread.
    starter.join();
    record& refused = busy[seen + 1];
    EXPECT_EQ(refused.refusals.load(), 1);
    EXPECT_EQ(refused.thread.load(), starter_id.load());
    for (auto& r : busy) r.hold = false;
    vek_terminate();  // waits for the pool threads, which still read `busy`
    ASSERT_TRUE(vek_initialize());
}

TEST_F(BgThreadTest, TerminateWaitsForBusyPoolThreadsAndLaterTasksAreRefused)
{
    std::vector<record> busy(4);
    for (auto& r : busy) {
        r.hold = true;
        start(&r);
    }
    ASSERT_TRUE(wait_for([&] {
        for (auto& r : busy)
            if (r.thread == 0) return false;
        return true;
    }));
    std::thread freer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (auto& r : busy) r.hold = false;
    });
    vek_terminate();
    // Returned only after the busy tasks ended.
    for (auto& r : busy) EXPECT_EQ(r.runs.load(), 1);
    freer.join();

    record after;
    start(&after);
    EXPECT_EQ(after.refusals.load(), 1);
    ASSERT_TRUE(vek_initialize());  // for TearDown
}
