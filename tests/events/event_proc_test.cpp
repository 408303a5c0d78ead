#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

using vek_test::probe;

namespace {

std::mutex g_lock;
std::vector<std::string> g_order;  // names of the sinks called

// A handler object: logs its name, counts the identifiers it saw and
// returns what its action returns (true without one).
class sink : public vek::object {
public:
    explicit sink(const char* name = "") : m_name(name) {}
    bool on_event(vek::i_event* e)
    {
        if (!m_name.empty()) {
            std::lock_guard<std::mutex> hold(g_lock);
            g_order.push_back(m_name);
        }
        bool result = action ? action(e) : true;
        std::lock_guard<std::mutex> hold(g_lock);
        ++seen[e->get_event_id()];
        ++calls;
        return result;
    }
    bool on_other(vek::i_event*) { return true; }

    std::function<bool(vek::i_event*)> action;
    std::atomic<int> calls{0};
    std::map<long long, int> seen;

private:
    std::string m_name;
};

const auto on_event = static_cast<vek::vek_event_function>(&sink::on_event);
const auto on_other = static_cast<vek::vek_event_function>(&sink::on_other);
typedef std::vector<std::string> names;

names take_order()
{
    std::lock_guard<std::mutex> hold(g_lock);
    names taken;
    taken.swap(g_order);
    return taken;
}

bool wait_until(const std::function<bool()>& done)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void fire(const char* type, long long id, bool now = true)
{
    vek_generate_event(type, id, nullptr, now);
}

// Sinks are declared in the test body, so they outlive the processor,
// which ends with vek_terminate (or with the test's own reference).
class EventProcTest : public vek_test::entered_library_test {
protected:
    void SetUp() override
    {
        entered_library_test::SetUp();
        svc = vek_core()->get_service("svc_event");
        proc = vek_cast_i_event_proc(svc);
        ASSERT_NE(proc, nullptr);
    }
    void shut_down()
    {
        if (svc != nullptr) svc->release();
        svc = nullptr;
        vek_terminate();
        EXPECT_EQ(probe::live.load(), 0);
    }
    void TearDown() override { shut_down(); }
    vek::i_object* svc = nullptr;
    vek::i_event_proc* proc = nullptr;
};

}  // namespace

TEST_F(EventProcTest, DeliversNewestFirstToMatchingIdsUntilFalse)
{
    sink a("a"), b("b"), c("c");
    vek_install_handler("t.order", 0, &a, on_event);
    vek_install_handler("t.order", 0, &b, on_event);
    vek_install_handler("t.order", 7, &c, on_event);
    fire("t.order", 7);  // complete when the call returns
    EXPECT_EQ(take_order(), (names{"c", "b", "a"}));
    fire("t.order", 8);
    EXPECT_EQ(take_order(), (names{"b", "a"}));
    b.action = [](vek::i_event*) { return false; };
    fire("t.order", 7);
    EXPECT_EQ(take_order(), (names{"c", "b"}));
    // A throwing handler neither escapes nor stops the delivery.
    b.action = [](vek::i_event*) -> bool { throw std::runtime_error("boom"); };
    fire("t.order", 8);
    EXPECT_EQ(take_order(), (names{"b", "a"}));
    shut_down();
}

TEST_F(EventProcTest, UninstallRemovesOneRecordMatchingIdHandlerAndCallback)
{
    sink a;
    vek_install_handler("t.dup", 0, &a, on_event);
    vek_install_handler("t.dup", 0, &a, on_event);
    vek_install_handler("t.dup", 3, &a, on_event);    // another record
    vek_uninstall_handler("t.dup", 0, &a, on_other);  // matches none
    fire("t.dup", 3);
    EXPECT_EQ(a.calls.load(), 2);  // the duplicate is called once
    vek_uninstall_handler("t.dup", 3, &a, on_event);
    vek_uninstall_handler("t.dup", 0, &a, on_event);
    fire("t.dup", 3);
    EXPECT_EQ(a.calls.load(), 3);
    vek_uninstall_handler("t.dup", 0, &a, on_event);
    // Installs apply before uninstalls, so this pair cancels out.
    vek_install_handler("t.dup", 0, &a, on_event);
    vek_uninstall_handler("t.dup", 0, &a, on_event);
    fire("t.dup", 3);
    EXPECT_EQ(a.calls.load(), 3);
}

TEST_F(EventProcTest, ChangesMadeByAHandlerApplyWithinTheSameDelivery)
{
    sink first("first"), self("self"), late("late"), other("other");
    self.action = [&](vek::i_event*) {
        vek_uninstall_handler("t.change", 0, &self, on_event);
        vek_install_handler("t.change", 0, &late, on_event);
        vek_install_handler("t.change", 9, &other, on_event);
        return true;
    };
    vek_install_handler("t.change", 0, &first, on_event);
    vek_install_handler("t.change", 0, &self, on_event);
    fire("t.change", 1);
    EXPECT_EQ(take_order(), (names{"self", "late", "first"}));
    fire("t.change", 1);
    EXPECT_EQ(take_order(), (names{"late", "first"}));
    shut_down();
}

TEST_F(EventProcTest, QueuedEventIsDeliveredLaterOnAnotherThread)
{
    std::mutex gate;
    std::thread::id where;
    bool had_payload = false;
    sink q;
    q.action = [&](vek::i_event* e) {
        std::lock_guard<std::mutex> hold(gate);
        where = std::this_thread::get_id();
        vek::i_object* payload = e->get_event_object();
        had_payload = payload != nullptr;
        vek_release(payload);
        return true;
    };
    vek_install_handler("t.queued", 0, &q, on_event);
    {
        std::unique_lock<std::mutex> hold(gate);
        vek_generate_event("t.queued", 0, new probe("payload"), false);
        EXPECT_EQ(probe::live.load(), 1);  // the queued event holds it
        EXPECT_EQ(q.calls.load(), 0);
    }
    ASSERT_TRUE(wait_until([&] { return q.calls.load() == 1 && probe::live.load() == 0; }));
    EXPECT_NE(where, std::this_thread::get_id());
    EXPECT_TRUE(had_payload);
    shut_down();
}

TEST_F(EventProcTest, ShutdownStopsHandlersAndReleasesQueuedEvents)
{
    sink on_term, after;
    bool saw = false;
    on_term.action = [&](vek::i_event*) {
        vek::i_object* found = vek_core()->get_service("svc_event");
        saw = found != nullptr && vek_is_running();
        vek_release(found);
        return true;
    };
    vek_install_handler("VEK_CORE_EVT_TERMINATING", 0, &on_term, on_event);
    unsigned int type = proc->get_event_type("t.after");
    proc->install_handler(type, 0, &after, on_event);

    vek_terminate();  // the test's reference keeps the processor
    EXPECT_EQ(on_term.calls.load(), 1);
    EXPECT_TRUE(saw);
    proc->fire_event(new vek::event(type, 0, nullptr), true);  // count 0: the call holds it
    proc->fire_event(new vek::event(type, 0, new probe("queued")), false);
    EXPECT_EQ(probe::live.load(), 1);

    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    svc->release();
    svc = nullptr;
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(": event_proc::~event_proc()\n"), std::string::npos) << out;
    EXPECT_EQ(probe::live.load(), 0);
    EXPECT_EQ(after.calls.load(), 0);
}

TEST_F(EventProcTest, ConcurrentFiringWithHandlerChurnDeliversEachEventOnce)
{
    const int per_thread = 200, firers = 6;  // four fire immediately, two queue
    sink old_stable, new_stable;
    vek_install_handler("t.load", 0, &old_stable, on_event);
    vek_install_handler("t.load", 0, &new_stable, on_event);
    std::vector<sink> churned(8);
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; !stop.load(); ++i) {
                sink* s = &churned[static_cast<size_t>(t * 4 + i % 4)];
                vek_install_handler("t.load", i % 3, s, on_event);
                vek_install_handler("t.load", 0, s, on_other);
                vek_uninstall_handler("t.load", i % 3, s, on_event);
                vek_uninstall_handler("t.load", 0, s, on_other);
            }
        });
    }
    for (int t = 0; t < firers; ++t) {
        threads.emplace_back([t] {
            for (int i = 1; i <= per_thread; ++i) fire("t.load", t * 100000 + i, t < 4);
        });
    }
    const int total = firers * per_thread;
    EXPECT_TRUE(wait_until([&] { return old_stable.calls.load() >= total && new_stable.calls.load() >= total; }));
    stop = true;
    for (auto& th : threads) th.join();
    for (sink* s : {&old_stable, &new_stable}) {
        EXPECT_EQ(s->calls.load(), total);
        EXPECT_EQ(s->seen.size(), static_cast<size_t>(total));
        for (auto& entry : s->seen) EXPECT_EQ(entry.second, 1) << "event " << entry.first;
    }
    shut_down();  // no delivery still running can reach a churned sink
}
