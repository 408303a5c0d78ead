#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

// Records the threads it ran in and the most calls one thread made; blocks
// while `hold` is set.
class recorder : public vek::object {
public:
    bool on_event(vek::i_event*)
    {
        static thread_local int mine = 0;  // calls in this thread, of any recorder
        std::unique_lock<std::mutex> lock(m);
        threads.insert(std::this_thread::get_id());
        ++calls;
        most_in_one_thread = std::max(most_in_one_thread, ++mine);
        changed.notify_all();
        changed.wait(lock, [this] { return !hold; });
        return true;
    }
    void release_all()
    {
        std::lock_guard<std::mutex> lock(m);
        hold = false;
        changed.notify_all();
    }

    std::mutex m;
    std::condition_variable changed;
    bool hold = false;
    int calls = 0;
    int most_in_one_thread = 0;
    std::set<std::thread::id> threads;
};

const auto on_event = static_cast<vek::vek_event_function>(&recorder::on_event);

using DeliveryQueueTest = vek_test::entered_library_test;

// An attribute of the first element at `path` in a fresh status snapshot;
// "" when there is none.
std::string status_of(const char* path, const char* attribute)
{
    auto_ptr_t<vek::i_xml_node> status = vek_get_status();
    auto_ptr_t<vek::i_xml_node> node = status.is_ok() ? status->select_single_node(path) : nullptr;
    const char* value = node.is_ok() ? node->get_attribute(attribute) : nullptr;
    return value != nullptr ? value : "";
}

int calls_of(recorder& r)
{
    std::lock_guard<std::mutex> lock(r.m);
    return r.calls;
}

}  // namespace

TEST_F(DeliveryQueueTest, BurstsUseFewThreadsAndBlockedHandlersDoNotStarveTheQueue)
{
    const int standing = 2 * static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
    recorder quick, slow, after, paced;
    vek_install_handler("t.quick", 0, &quick, on_event);
    vek_install_handler("t.slow", 0, &slow, on_event);
    vek_install_handler("t.after", 0, &after, on_event);

    // A burst from four threads runs on the standing delivery threads, not
    // on a thread per event.
    std::vector<std::thread> firers;
    for (int t = 0; t < 4; ++t) {
        firers.emplace_back([] {
            for (int i = 0; i < 1000; ++i) vek_generate_event("t.quick", i, nullptr, false);
        });
    }
    for (auto& th : firers) th.join();
    ASSERT_TRUE(vek_test::wait_for([&] { return calls_of(quick) == 4000; }));
    EXPECT_LE(quick.threads.size(), static_cast<size_t>(standing + 8));

    // One event at a time: a thread that went idle takes the next.
    vek_install_handler("t.paced", 0, &paced, on_event);
    for (int i = 1; i <= 10; ++i) {
        vek_generate_event("t.paced", i, nullptr, false);
        ASSERT_TRUE(vek_test::wait_for([&] { return calls_of(paced) == i; }));
    }
    EXPECT_GT(paced.most_in_one_thread, 1);

    // Handlers that block take every standing thread and more; the queue
    // grows a thread for each, and a later event still gets through.
    slow.hold = true;
    for (int i = 0; i < standing + 2; ++i) vek_generate_event("t.slow", i, nullptr, false);
    EXPECT_TRUE(vek_test::wait_for([&] { return calls_of(slow) == standing + 2; }));
    // The status shows each of them in a handler, named by its event.
    EXPECT_EQ(status_of("events", "busy"), std::to_string(standing + 2));
    EXPECT_EQ(status_of("events/type[name=t.slow]", "handlers"), "1");
    EXPECT_EQ(status_of("threads/thread[doing=event t.slow]", "role"), "delivery");
    vek_generate_event("t.after", 0, nullptr, false);
    EXPECT_TRUE(vek_test::wait_for([&] { return calls_of(after) == 1; }));
    EXPECT_EQ(calls_of(slow), standing + 2);  // all still blocked
    slow.release_all();
    TearDown();  // ends the deliveries before the recorders go
}
