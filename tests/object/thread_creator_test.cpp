#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_support.h"

using vek_test::wait_for;

namespace {

// A worker object whose threads loop until told to stop.
class worker : public vek::object, public vek::thread_creator {
public:
    static inline std::atomic<int> live{0};
    std::atomic<int> loops{0};
    std::atomic<int> finished{0};
    std::atomic<bool> ignore_stop{false};
    std::atomic<unsigned long> tid{0};

    worker() { ++live; }
    ~worker() override { --live; }

    void loop(void*)
    {
        tid = vek_get_thread_id();
        while (thread_running() || ignore_stop) {
            ++loops;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ++finished;
    }

    void once(void* arg) { *static_cast<std::atomic<int>*>(arg) += 1; }

    bool start_loop() { return create_thread(this, static_cast<thread_function>(&worker::loop), nullptr); }
};

}  // namespace

using ThreadCreatorTest = vek_test::entered_library_test;

TEST_F(ThreadCreatorTest, StopThreadsEndsLoopingThreads)
{
    worker w;
    EXPECT_TRUE(w.stop_threads(0));  // nothing running: true at once
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(w.start_loop());
    EXPECT_TRUE(w.thread_running());
    ASSERT_TRUE(wait_for([&] { return w.loops > 10; }));
    EXPECT_NE(w.tid.load(), vek_get_thread_id());
    EXPECT_EQ(w.get_threads_count(), 3u);
    EXPECT_TRUE(w.stop_threads(5));
    EXPECT_EQ(w.get_threads_count(), 0u);
    EXPECT_EQ(w.finished.load(), 3);
    EXPECT_FALSE(w.thread_running());
    // create_thread makes the object runnable again.
    std::atomic<int> ran(0);
    ASSERT_TRUE(w.create_thread(&w, static_cast<vek::thread_creator::thread_function>(&worker::once), &ran));
    EXPECT_TRUE(w.thread_running());
    EXPECT_TRUE(w.stop_threads(5));
    EXPECT_EQ(ran.load(), 1);
}

TEST_F(ThreadCreatorTest, StopThreadsTimesOutOnAThreadThatIgnoresIt)
{
    worker w;
    w.ignore_stop = true;
    ASSERT_TRUE(w.start_loop());
    EXPECT_FALSE(w.stop_threads(1));
    EXPECT_EQ(w.get_threads_count(), 1u);
    w.ignore_stop = false;
    EXPECT_TRUE(w.stop_threads(5));
}

TEST_F(ThreadCreatorTest, AutoDeleteThreadDestroysTheObjectWhenItEnds)
{
    auto* w = new worker();
    ASSERT_TRUE(w->start_loop());
    ASSERT_TRUE(wait_for([&] { return w->tid != 0; }));
    EXPECT_TRUE(w->thread_running());
    // From here the thread may delete `w` at any moment, so only the static
    // count is read: the loop ends (and the object goes) only once
    // thread_running() turned false for it.
    w->enable_auto_delete_thread(w->tid);
    EXPECT_TRUE(wait_for([] { return worker::live == 0; }));
}

TEST_F(ThreadCreatorTest, TerminateWaitsForTheLibrarysThreads)
{
    worker w;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(w.start_loop());
    // The thread count is process-wide: vek_terminate waits while these run.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        w.stop_threads(5);
    });
    vek_terminate();
    // Returned only once every thread had ended.
    EXPECT_EQ(w.get_threads_count(), 0u);
    EXPECT_EQ(w.finished.load(), 4);
    stopper.join();
    EXPECT_EQ(vek_core(), nullptr);
    ASSERT_TRUE(vek_initialize());  // for TearDown
}
