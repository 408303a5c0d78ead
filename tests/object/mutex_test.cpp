#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <vek/vek_core.h>

TEST(MutexTest, IsReentrantCountsHoldsAndExcludesOthers)
{
    vek::mutex m;
    m.lock();
    m.lock();
    EXPECT_EQ(m.lock_count(), 2u);
    m.unlock();
    m.unlock();
    EXPECT_EQ(m.lock_count(), 0u);

    long long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                vek::mutex_locker hold(&m);
                vek::mutex_locker again(&m);
                ++total;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(total, 8 * 20000);
    EXPECT_EQ(m.lock_count(), 0u);

    // A thread that finds the lock held sleeps until the holder lets go.
    std::atomic<bool> let_go{false};
    m.lock();
    std::thread waiter([&] {
        vek::mutex_locker hold(&m);
        EXPECT_TRUE(let_go.load());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    let_go = true;
    m.unlock();
    waiter.join();
    EXPECT_EQ(m.lock_count(), 0u);
}

TEST(MutexTest, LockerCancelUnlocksOnceAndNullDoesNothing)
{
    {
        vek::mutex_locker none(nullptr);
    }
    vek::mutex m;
    {
        vek::mutex_locker hold(&m);
        hold.cancel();
        hold.cancel();
        EXPECT_EQ(m.lock_count(), 0u);
    }
    EXPECT_EQ(m.lock_count(), 0u);
    std::thread other([&] { vek::mutex_locker hold(&m); });  // free for others
    other.join();

    // Destroying a held mutex warns and lets go of it (checked by the
    // sanitizer build).
    vek_enable_trace(false);
    auto* held = new vek::mutex();
    held->lock();
    held->lock();
    delete held;
}
