#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

using vek_test::count_of;
using vek_test::probe;
using vek_test::wait_for;

namespace {

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vek_test::quiet_trace();
        ASSERT_TRUE(vek_initialize());
        core = vek_core();
    }
    void TearDown() override
    {
        vek_terminate();
        EXPECT_EQ(probe::live.load(), 0);
    }
    // The names of the listed services, in list order.
    static std::vector<std::string> names_of(vek::i_object_col* list)
    {
        std::vector<std::string> names;
        for (unsigned int i = 0; i < list->get_count(); ++i) {
            vek::i_object* item = list->get_item_by_pos(i);
            names.push_back(vek_cast_i_named_object(item)->get_name());
            item->release();
        }
        list->release();
        return names;
    }
    vek::i_core* core = nullptr;
};

// A stream whose connection the test cuts; it also counts the tick events
// it is handed, and notes where they ran.
class fake_stream : public vek::i_stream_impl {
public:
    std::atomic<bool> connected{true};
    std::atomic<int> turns{0}, disconnects{0}, ticks{0};
    std::atomic<unsigned long> tick_thread{0};

    bool disconnect() override { return ++disconnects > 0; }
    bool is_connected() override { return connected; }
    bool bg_task() override { return ++turns > 0; }
    bool on_tick(vek::i_event*)
    {
        tick_thread = vek_get_thread_id();
        return ++ticks > 0;
    }
};

}  // namespace

TEST_F(CoreTest, RegistrationTakesAReferenceNeverReplacesAndListsInByteOrder)
{
    EXPECT_EQ(core->addref(), 1);  // the core is not counted
    EXPECT_EQ(core->release(), 1);
    EXPECT_EQ(vek_cast_i_core(core), core);

    auto* first = new probe("first");
    first->addref();
    EXPECT_TRUE(core->register_service(first, "svc_a"));
    EXPECT_EQ(count_of(first), 2);
    auto* second = new probe("second");
    second->addref();
    EXPECT_FALSE(core->register_service(second, "svc_a"));
    EXPECT_EQ(count_of(second), 1);
    // A new object with count 0 under a taken name is destroyed, not leaked.
    EXPECT_FALSE(core->register_service(new probe("third"), "svc_a"));
    EXPECT_EQ(probe::live.load(), 2);

    vek::i_object* found = core->get_service("svc_a");
    EXPECT_EQ(found, static_cast<vek::i_object*>(first));
    EXPECT_EQ(count_of(first), 3);
    found->release();
    EXPECT_TRUE(core->unregister_service("svc_a"));
    EXPECT_EQ(count_of(first), 1);
    EXPECT_FALSE(core->unregister_service("svc_a"));
    first->release();

    // Bad input changes nothing.
    EXPECT_FALSE(core->register_service(nullptr, "svc_x"));
    EXPECT_FALSE(core->register_service(second, nullptr));
    EXPECT_FALSE(core->register_service(second, ""));
    EXPECT_EQ(count_of(second), 1);
    EXPECT_FALSE(core->unregister_service(nullptr));
    EXPECT_FALSE(core->unregister_service(""));
    EXPECT_EQ(core->get_service(nullptr), nullptr);
    EXPECT_EQ(core->get_service("svc_missing"), nullptr);
    EXPECT_EQ(core->load_library(""), nullptr);
    second->release();

    // The list is sorted by name bytes and is a snapshot; the last four are
    // the library's own "svc_encrypt", "svc_md5_encoder", "svc_string" and
    // "svc_xml".
    for (const char* name : {"svc_b", "svc_B", "svc_a", "Svc_z", "svc_aa"}) {
        EXPECT_TRUE(core->register_service(new probe(name), name));
    }
    vek::i_object_col* list = core->get_services();
    EXPECT_TRUE(core->register_service(new probe("later"), "svc_later"));
    EXPECT_EQ(names_of(list), (std::vector<std::string>{"Svc_z", "svc_B", "svc_a", "svc_aa", "svc_b", "encryptor",
                                                        "MD5 encoder", "string_service", "xml_proc"}));
}

TEST_F(CoreTest, ConcurrentRegistrationKeepsEveryService)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) {
                std::string name = "svc_" + std::to_string(t) + "_" + std::to_string(i);
                core->register_service(new probe(name.c_str()), name.c_str());
                vek_release(core->get_service(name.c_str()));
                if (i % 2 == 0) core->unregister_service(name.c_str());
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(names_of(core->get_services()).size(), 804u);  // with the library's own four services
    EXPECT_EQ(probe::live.load(), 800);
}

// The tick and the stream watch run once the library is entered, as loading
// it from a configuration does.
TEST_F(CoreTest, TheTickQueuesItsEventEverySecondAndTheWatchDropsDisconnectedStreams)
{
    ASSERT_NE(core->load_library(VEK_CORE_SO), nullptr);
    auto* s = new fake_stream();
    s->addref();
    auto callback = static_cast<vek::vek_event_function>(&fake_stream::on_tick);
    vek_install_handler("VEK_CORE_EVT_BG_TASK", 0, s, callback);
    unsigned int first = vek_get_curr_time();
    vek_register_stream(s);
    ASSERT_TRUE(wait_for([&] { return s->turns >= 2; }));
    EXPECT_EQ(s->disconnects.load(), 0);
    s->connected = false;
    ASSERT_TRUE(wait_for([&] { return count_of(s) == 1; }));  // the core let go
    EXPECT_EQ(s->disconnects.load(), 1);
    int turns = s->turns;

    EXPECT_TRUE(wait_for([&] { return s->ticks >= 2; }, 3500));
    EXPECT_GT(vek_get_curr_time(), first);
    EXPECT_NE(s->tick_thread.load(), vek_get_thread_id());  // queued: a pool thread
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(s->turns.load(), turns);  // no longer served
    vek_uninstall_handler("VEK_CORE_EVT_BG_TASK", 0, s, callback);
    vek_terminate();  // waits for the pool before the stream goes
    s->release();
}
