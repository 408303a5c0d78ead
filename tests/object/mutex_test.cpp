#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <vek/vek_core.h>

TEST(MutexTest, IsReentrantAndCountsItsHolds)
{
    vek::mutex m;
    m.lock();
    EXPECT_EQ(m.lock_count(), 1u);
    m.lock();
    EXPECT_EQ(m.lock_count(), 2u);
    m.unlock();
    EXPECT_EQ(m.lock_count(), 1u);
    m.unlock();
    EXPECT_EQ(m.lock_count(), 0u);
}

TEST(MutexTest, ExcludesOtherThreads)
{
    vek::mutex m;
    long long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                vek::mutex_locker hold(&m);
                vek::mutex_locker again(&m);  // re-entry by the holder
                ++total;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(total, 8 * 20000);
    EXPECT_EQ(m.lock_count(), 0u);
}

TEST(MutexTest, LockerOnNullDoesNothingAndCancelUnlocksOnce)
{
    {
        vek::mutex_locker none(nullptr);
    }
    vek::mutex m;
    {
        vek::mutex_locker hold(&m);
        EXPECT_EQ(m.lock_count(), 1u);
        hold.cancel();
        EXPECT_EQ(m.lock_count(), 0u);
        hold.cancel();
    }
    EXPECT_EQ(m.lock_count(), 0u);
    // The lock is free for another thread after cancel.
    std::atomic<bool> got(false);
    std::thread other([&] {
        vek::mutex_locker hold(&m);
        got = true;
    });
    other.join();
    EXPECT_TRUE(got);
}

TEST(MutexTest, DestroyingAHeldMutexWarnsAndFreesIt)
{
    vek_enable_trace(false);
    auto* m = new vek::mutex();
    m->lock();
    m->lock();
    delete m;  // a sanitizer build reports a leaked or misused lock here
}
