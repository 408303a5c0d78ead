#include <gtest/gtest.h>

#include <tuple>

#include "test_support.h"

using namespace vek_test;

TEST(EventTest, WithoutCoreANamedEventStaysEmptyAndTakesNoReference)
{
    auto* payload = new probe("payload");
    {
        vek::event named("X", 5, payload), numbered(3, 9, payload);  // numbered needs no core
        EXPECT_EQ(std::make_tuple(named.get_event_type(), named.get_event_id(), named.get_event_object()),
                  std::make_tuple(0u, 0LL, static_cast<vek::i_object*>(nullptr)));
        named.set_event_type_id(7);
        named.set_event_type("X");
        EXPECT_EQ(named.get_event_type(), 7u);
        vek_generate_event("X", 1, payload, true);
        EXPECT_EQ(count_of(payload), 1);  // numbered's only
    }
    EXPECT_EQ(probe::live.load(), 0);
}

using EventCoreTest = entered_library_test;

TEST_F(EventCoreTest, TypesAreNumberedByFirstUseAndEventsHoldTheirObject)
{
    vek::i_object* svc = vek_core()->get_service("svc_event");
    vek::i_event_proc* proc = vek_cast_i_event_proc(svc);
    ASSERT_NE(proc, nullptr);
    EXPECT_STREQ(vek_cast_i_named_object(svc)->get_name(), "event_proc");

    // Library threads may number their own names first: only the order
    // among these names is fixed.
    unsigned int a = proc->get_event_type("test.a");
    vek::event b("test.b", 0, nullptr);
    EXPECT_GE(a, 100000u);
    EXPECT_GT(b.get_event_type(), a);
    EXPECT_GT(proc->get_event_type("TEST.A"), b.get_event_type());
    EXPECT_EQ(proc->get_event_type(nullptr), 0u);
    b.set_event_type("test.a");
    EXPECT_EQ(b.get_event_type(), a);

    auto* first = new probe("first");
    vek::event e("test.a", 11, first);
    EXPECT_EQ(vek_cast_i_event(&e), static_cast<vek::i_event*>(&e));
    vek::i_object* got = e.get_event_object();
    EXPECT_EQ(got, static_cast<vek::i_object*>(first));
    EXPECT_EQ(count_of(first), 2);
    got->release();
    e.set_event_object(first);  // storing the held object again keeps it
    EXPECT_EQ(count_of(first), 1);
    e.set_event_object(new probe("second"));
    EXPECT_EQ(probe::live.load(), 1);  // first released
    e.set_event_object(nullptr);
    EXPECT_EQ(probe::live.load(), 0);

    // Without the service an event keeps its identifier and object.
    svc->release();
    ASSERT_TRUE(vek_core()->unregister_service("svc_event"));
    auto* kept = new probe("kept");
    vek::event orphan("test.a", 5, kept);
    EXPECT_EQ(std::make_pair(orphan.get_event_type(), orphan.get_event_id()), std::make_pair(0u, 5LL));
    EXPECT_EQ(count_of(kept), 1);
}
