// Threads an object creates and stops, and the library's end waiting for
// them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

TEST_F(ThreadCreatorTest, ThreadsStopOrTimeOutAutoDeleteAndTerminateWaitsForThem)
{
    // An auto-delete thread destroys its object when it ends. From the
    // enable on it may do so at any moment, so only the static count is
    // read: the loop ends only once thread_running() turned false for it.
    auto* gone = new worker();
    int others = worker::live - 1;
    ASSERT_TRUE(gone->start());
    ASSERT_TRUE(vek_test::wait_for([&] { return gone->tid != 0; }));
    gone->enable_auto_delete_thread(gone->tid);
    EXPECT_TRUE(vek_test::wait_for([others] { return worker::live == others; }));

    worker w;
    EXPECT_TRUE(w.stop_threads(0));  // nothing running: true at once
    w.ignore_stop = true;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(w.start());
    EXPECT_TRUE(w.thread_running());  // create_thread makes the object runnable again
    ASSERT_TRUE(vek_test::wait_for([&] { return w.loops > 10; }));
    EXPECT_NE(w.tid.load(), vek_get_thread_id());
    EXPECT_FALSE(w.stop_threads(1));  // they ignore it
    EXPECT_EQ(w.get_threads_count(), 3u);
    EXPECT_FALSE(w.thread_running());

    // The thread count is process-wide: vek_terminate returns only once
    // every thread has ended, which they do here only after 200 ms.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        w.ignore_stop = false;
        EXPECT_TRUE(w.stop_threads(5));
    });
    vek_terminate();
    EXPECT_EQ(w.get_threads_count(), 0u);
    EXPECT_EQ(w.finished.load(), 3);
    stopper.join();
    ASSERT_TRUE(vek_initialize());  // for TearDown
}

}  // namespace
