#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "test_support.h"

using vek_test::probe;

namespace {

typedef std::vector<std::string> names;
std::mutex g_lock;
names g_order;  // names of the sinks called

// A handler object: logs its name, counts the identifiers it saw and
// returns what its action returns (true without one).
class sink : public vek::object {
public:
    explicit sink(const char* n = "") : name(n) {}
    bool on_event(vek::i_event* e)
    {
        std::unique_lock<std::mutex> hold(g_lock);
        if (!name.empty()) g_order.push_back(name);
        hold.unlock();
        bool result = !action || action(e);
        hold.lock();
        ++seen[e->get_event_id()];
        ++calls;
        return result;
    }
    bool on_other(vek::i_event*) { return true; }

    std::function<bool(vek::i_event*)> action;
    std::atomic<int> calls{0};
    std::map<long long, int> seen;
    std::string name;
};

const auto on_event = static_cast<vek::vek_event_function>(&sink::on_event);
const auto on_other = static_cast<vek::vek_event_function>(&sink::on_other);

// Fires an event; the names of the sinks called since the last fire
// (all of this event's when `now`: the call returns after the delivery).
names fire(const char* type, long long id, bool now = true)
{
    vek_generate_event(type, id, nullptr, now);
    std::lock_guard<std::mutex> hold(g_lock);
    return std::exchange(g_order, names{});
}

// The sinks are members, so they outlive the processor, which ends with
// vek_terminate in TearDown (or with the test's own reference).
class EventProcTest : public vek_test::entered_library_test {
protected:
    EventProcTest() { g_order.clear(); }
    sink a{"a"}, b{"b"}, c{"c"}, d{"d"};
};

}  // namespace

TEST_F(EventProcTest, DeliversNewestFirstToMatchingIdsUntilFalse)
{
    for (sink* s : {&a, &b}) vek_install_handler("t.order", 0, s, on_event);
    vek_install_handler("t.order", 7, &c, on_event);
    EXPECT_EQ(fire("t.order", 7), (names{"c", "b", "a"}));
    EXPECT_EQ(fire("t.order", 8), (names{"b", "a"}));
    b.action = [](vek::i_event*) { return false; };
    EXPECT_EQ(fire("t.order", 7), (names{"c", "b"}));
    // A throwing handler neither escapes nor stops the delivery.
    b.action = [](vek::i_event*) -> bool { throw std::runtime_error("boom"); };
    EXPECT_EQ(fire("t.order", 8), (names{"b", "a"}));
}

TEST_F(EventProcTest, UninstallRemovesOneRecordMatchingIdHandlerAndCallback)
{
    // Two records for id 0, one for id 3.
    for (long long id : {0, 0, 3}) vek_install_handler("t.dup", id, &a, on_event);
    vek_uninstall_handler("t.dup", 0, &a, on_other);  // matches none
    EXPECT_EQ(fire("t.dup", 3), (names{"a", "a"}));   // the duplicate is called once
    vek_uninstall_handler("t.dup", 3, &a, on_event);
    vek_uninstall_handler("t.dup", 0, &a, on_event);
    EXPECT_EQ(fire("t.dup", 3), names{"a"});
    vek_uninstall_handler("t.dup", 0, &a, on_event);
    // Installs apply before uninstalls, so this pair cancels out.
    vek_install_handler("t.dup", 0, &a, on_event);
    vek_uninstall_handler("t.dup", 0, &a, on_event);
    EXPECT_EQ(fire("t.dup", 3), names{});
}

TEST_F(EventProcTest, ChangesMadeByAHandlerApplyWithinTheSameDelivery)
{
    // b removes itself and adds c (any id) and d (id 9 only).
    b.action = [&](vek::i_event*) {
        vek_uninstall_handler("t.change", 0, &b, on_event);
        vek_install_handler("t.change", 0, &c, on_event);
        vek_install_handler("t.change", 9, &d, on_event);
        return true;
    };
    for (sink* s : {&a, &b}) vek_install_handler("t.change", 0, s, on_event);
    EXPECT_EQ(fire("t.change", 1), (names{"b", "c", "a"}));
    EXPECT_EQ(fire("t.change", 1), (names{"c", "a"}));

    // A handler that re-identifies the event hands it to newer handlers of
    // the new identifier it had passed over, but never to itself again.
    vek_install_handler("t.reid", 0, &a, on_event);
    vek_install_handler("t.reid", 0, &b, on_event);
    vek_install_handler("t.reid", 5, &d, on_event);
    b.action = [](vek::i_event* e) {
        dynamic_cast<vek::event*>(e)->set_event_id(5);
        return true;
    };
    EXPECT_EQ(fire("t.reid", 7), (names{"b", "d", "a"}));
}

TEST_F(EventProcTest, QueuedEventIsDeliveredLaterOnAnotherThread)
{
    std::mutex gate;
    const std::thread::id test_thread = std::this_thread::get_id();
    a.action = [&](vek::i_event* e) {
        std::lock_guard<std::mutex> hold(gate);
        EXPECT_NE(std::this_thread::get_id(), test_thread);
        vek::i_object* payload = e->get_event_object();
        EXPECT_NE(payload, nullptr);
        vek_release(payload);
        return true;
    };
    vek_install_handler("t.queued", 0, &a, on_event);
    {
        std::lock_guard<std::mutex> hold(gate);
        vek_generate_event("t.queued", 0, new probe("payload"), false);
        EXPECT_EQ(probe::live.load(), 1);  // the queued event holds it
        EXPECT_EQ(a.calls.load(), 0);
    }
    ASSERT_TRUE(vek_test::wait_for([&] { return a.calls.load() == 1 && probe::live.load() == 0; }, 20000));
}

TEST_F(EventProcTest, ShutdownStopsHandlersAndReleasesQueuedEvents)
{
    vek::i_object* svc = vek_core()->get_service("svc_event");
    vek::i_event_proc* proc = vek_cast_i_event_proc(svc);
    ASSERT_NE(proc, nullptr);
    a.action = [&](vek::i_event*) {  // on terminating: service and core still up
        vek::i_object* found = vek_core()->get_service("svc_event");
        EXPECT_TRUE(found != nullptr && vek_is_running());
        vek_release(found);
        return true;
    };
    vek_install_handler("VEK_CORE_EVT_TERMINATING", 0, &a, on_event);
    unsigned int type = proc->get_event_type("t.after");
    proc->install_handler(type, 0, &b, on_event);

    vek_terminate();  // the test's reference keeps the processor
    EXPECT_EQ(a.calls.load(), 1);
    proc->fire_event(new vek::event(type, 0, nullptr), true);  // count 0: the call holds it
    proc->fire_event(new vek::event(type, 0, new probe("queued")), false);
    EXPECT_EQ(probe::live.load(), 1);

    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    svc->release();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(": event_proc::~event_proc()\n"), std::string::npos) << out;
    EXPECT_EQ(probe::live.load(), 0);
    EXPECT_EQ(b.calls.load(), 0);
}

TEST_F(EventProcTest, ConcurrentFiringWithHandlerChurnDeliversEachEventOnce)
{
    const int per_thread = 200, firers = 6, total = firers * per_thread;  // four firers immediate, two queued
    for (sink* s : {&a, &b}) vek_install_handler("t.load", 0, s, on_event);
    std::vector<sink> churned(8);
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2 + firers; ++t) {  // two churn handlers, the others fire
        threads.emplace_back([&, t] {
            for (int i = 0; t < 2 && !stop.load(); ++i) {
                sink* s = &churned[static_cast<size_t>(t * 4 + i % 4)];
                vek_install_handler("t.load", i % 3, s, on_event);
                vek_install_handler("t.load", 0, s, on_other);
                vek_uninstall_handler("t.load", i % 3, s, on_event);
                vek_uninstall_handler("t.load", 0, s, on_other);
            }
            for (int i = 1; t >= 2 && i <= per_thread; ++i) fire("t.load", t * 100000 + i, t < 6);
        });
    }
    EXPECT_TRUE(vek_test::wait_for([&] { return a.calls.load() >= total && b.calls.load() >= total; }, 20000));
    stop = true;
    for (auto& th : threads) th.join();
    for (sink* s : {&a, &b}) {  // each event once: as many calls as distinct identifiers
        EXPECT_EQ(s->calls.load(), total);
        EXPECT_EQ(s->seen.size(), static_cast<size_t>(total));
    }
    TearDown();  // no delivery still running can reach a churned sink
}
