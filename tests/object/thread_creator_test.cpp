// Threads an object creates and stops, the library's end waiting for them,
// and the reentrant mutex.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

// Its threads loop until told to stop, or while `ignore_stop` holds, then
// count themselves in the counter they were given.
struct worker : vek_test::probe, vek::thread_creator {
    std::atomic<int> loops{0}, finished{0};
    std::atomic<bool> ignore_stop{false};
    std::atomic<unsigned long> tid{0};
    void loop(void* done)
    {
        tid = vek_get_thread_id();
        for (; thread_running() || ignore_stop; ++loops) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++*static_cast<std::atomic<int>*>(done);
    }
    bool start() { return create_thread(this, static_cast<thread_function>(&worker::loop), &finished); }
};

using ThreadCreatorTest = vek_test::entered_library_test;

TEST_F(ThreadCreatorTest, StopThreadsEndsLoopsOrTimesOutAndTerminateWaitsForThem)
{
    worker w;
    EXPECT_TRUE(w.stop_threads(0));  // nothing running: true at once
    w.ignore_stop = true;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(w.start());
    EXPECT_TRUE(w.thread_running());
    ASSERT_TRUE(vek_test::wait_for([&] { return w.loops > 10; }));
    EXPECT_NE(w.tid.load(), vek_get_thread_id());
    EXPECT_FALSE(w.stop_threads(1));  // they ignore it
    EXPECT_EQ(w.get_threads_count(), 3u);
    w.ignore_stop = false;
    EXPECT_TRUE(w.stop_threads(5));
    EXPECT_EQ(w.get_threads_count(), 0u);
    EXPECT_EQ(w.finished.load(), 3);
    EXPECT_FALSE(w.thread_running());

    // create_thread makes the object runnable again. The thread count is
    // process-wide: vek_terminate returns only once every thread has ended.
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(w.start());
    EXPECT_TRUE(w.thread_running());
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        w.stop_threads(5);
    });
    vek_terminate();
    EXPECT_EQ(w.get_threads_count(), 0u);
    EXPECT_EQ(w.finished.load(), 7);
    stopper.join();
    EXPECT_EQ(vek_core(), nullptr);
    ASSERT_TRUE(vek_initialize());  // for TearDown
}

TEST_F(ThreadCreatorTest, AutoDeleteThreadDestroysTheObjectWhenItEnds)
{
    auto* w = new worker();
    int others = worker::live - 1;
    ASSERT_TRUE(w->start());
    ASSERT_TRUE(vek_test::wait_for([&] { return w->tid != 0; }));
    // From here the thread may delete `w` at any moment, so only the static
    // count is read: the loop ends (and the object goes) only once
    // thread_running() turned false for it.
    w->enable_auto_delete_thread(w->tid);
    EXPECT_TRUE(vek_test::wait_for([others] { return worker::live == others; }));
}

TEST(MutexTest, IsReentrantExcludesOthersAndLockersLetGoOnce)
{
    vek::mutex m;
    long long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                vek::mutex_locker hold(&m), again(&m);
                ++total;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(total, 8 * 20000);

    m.lock();
    {
        vek::mutex_locker hold(&m), none(nullptr);
        EXPECT_EQ(m.lock_count(), 2u);
        hold.cancel();
        hold.cancel();
        EXPECT_EQ(m.lock_count(), 1u);
    }
    EXPECT_EQ(m.lock_count(), 1u);
    m.unlock();
    std::thread([&] { vek::mutex_locker hold(&m); }).join();  // free for others
}

}  // namespace
