#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "test_support.h"

namespace {

using vek_test::probe;

struct hooked : probe {
    std::function<void()> on_destroy;
    ~hooked() override { on_destroy(); }
};

// Lets a test see whether the manager's lock is held.
struct locked_manager : vek::property_manager {
    unsigned int lock_count() { return m_lock.lock_count(); }
};

// Gives the caller one reference.
auto held = [](auto* p) { return p->addref(), p; };

// "name=value" per listed string, joined by spaces. Releases `col`.
std::string listing(vek::i_object_col* col)
{
    std::string out;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_named_string* s = vek_cast_i_named_string(col->get_item_by_pos(i));
        out += std::string(s->get_name()) + "=" + s->get_value() + " ";
        s->release();
    }
    EXPECT_EQ(col->release(), 0);
    return out;
}

TEST(PropertyTest, TextPropertiesIgnoreCaseKeepFirstSpellingAndListInFoldedOrder)
{
    vek::i_property_manager* pm = vek_create_property_manager();
    EXPECT_TRUE(pm->set_property("ghost", ""));  // creates nothing
    for (const char* name : {"b", "Color", "_x", "A"}) pm->set_property(name, name);
    EXPECT_TRUE(pm->set_property("cOLOR", "blue"));
    EXPECT_STREQ(pm->get_property("COLOR"), "blue");
    vek::i_object_col* snap = pm->get_properties();
    EXPECT_TRUE(pm->set_property("color", ""));  // empties, keeps the entry
    EXPECT_EQ(listing(snap), "_x=_x A=A b=b Color=blue ");
    EXPECT_EQ(listing(pm->get_properties()), "_x=_x A=A b=b Color= ");
    EXPECT_FALSE(pm->set_property(nullptr, "v"));
    EXPECT_FALSE(pm->set_property("b", nullptr));
    for (const char* missing : {static_cast<const char*>(nullptr), "ghost", "Colour"})
        EXPECT_STREQ(pm->get_property(missing), "");
    EXPECT_EQ(listing(pm->get_objects()), "");
    EXPECT_EQ(pm->release(), 0);
}

TEST(PropertyTest, ObjectsAreReferencedReplacedAndReleasedOutsideTheLock)
{
    auto* pm = held(new locked_manager);
    hooked *a = held(new hooked), *b = held(new hooked);
    std::string seen;  // lock count per destruction
    a->on_destroy = b->on_destroy = [&seen, pm] {
        seen += std::to_string(pm->lock_count());
        pm->set_property("gone", "yes");  // calls back in
    };
    EXPECT_FALSE(pm->set_object(nullptr, a));
    EXPECT_TRUE(pm->set_object("none", nullptr));
    EXPECT_EQ(pm->get_object(nullptr), nullptr);

    EXPECT_TRUE(pm->set_object("Slot", a));
    EXPECT_EQ(a->release(), 1);              // the manager's reference only
    EXPECT_TRUE(pm->set_object("slot", a));  // must not destroy it on the way
    vek::i_object* got = pm->get_object("SLOT");
    EXPECT_EQ(got, a);
    EXPECT_EQ(got->release(), 1);
    pm->set_object("other", b);
    EXPECT_EQ(b->release(), 1);
    EXPECT_TRUE(pm->set_object("slot", b));  // destroys a
    EXPECT_EQ(listing(pm->get_objects()), "other= Slot= ");
    EXPECT_TRUE(pm->set_object("SLOT", nullptr));
    EXPECT_EQ(pm->get_object("slot"), nullptr);
    EXPECT_TRUE(pm->set_object("OTHER", nullptr));  // destroys b
    EXPECT_EQ(seen, "00");
    EXPECT_STREQ(pm->get_property("gone"), "yes");
    EXPECT_EQ(pm->release(), 0);
    EXPECT_EQ(probe::live, 0);
}

TEST(PropertyTest, EightThreadsSetAndGetConsistently)
{
    vek::i_property_manager* pm = vek_create_property_manager();
    std::atomic<int> bad{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            std::string own = "own" + std::to_string(t);
            for (int i = 0; i < 300; ++i) {
                probe* it = held(new probe);
                pm->set_object(i % 2 ? "Shared" : "SHARED", it);
                it->release();
                vek::i_object* o = pm->get_object("shared");
                bad += o == nullptr;
                o->release();
                std::string value = std::to_string(i);
                pm->set_property(own.c_str(), value.c_str());
                pm->set_property("shared", value.c_str());
                bad += value != pm->get_property(own.c_str());
                if (i % 30 == 0) pm->get_properties()->release();
            }
        });
    }
    for (auto& w : workers) w.join();

    EXPECT_EQ(bad, 0);
    EXPECT_EQ(probe::live, 1);  // the last "shared" object
    EXPECT_STREQ(pm->get_property("shared"), "299");
    EXPECT_EQ(listing(pm->get_objects()), "SHARED= ");
    EXPECT_EQ(pm->release(), 0);
    EXPECT_EQ(probe::live, 0);
}

}  // namespace
