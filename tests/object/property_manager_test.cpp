#include <gtest/gtest.h>
#include <vek/vek_core.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

int count_of(vek::i_object* o)
{
    o->addref();
    return o->release();
}

// A stored object that counts its live instances.
class pm_item : public vek::object {
public:
    static std::atomic<int> s_live;
    std::function<void()> on_destroy;

    pm_item() { ++s_live; }
    ~pm_item() override
    {
        if (on_destroy) on_destroy();
        --s_live;
    }
};

std::atomic<int> pm_item::s_live{0};

pm_item* make_item()
{
    auto* it = new pm_item();
    it->addref();
    return it;
}

// Lets a test see whether the manager's lock is held.
class probe_manager : public vek::property_manager {
public:
    unsigned int lock_count() { return m_lock.lock_count(); }
};

// "name=value" per listed string, joined by spaces. Releases `col`.
std::string listing(vek::i_object_col* col)
{
    std::string out;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_object* o = col->get_item_by_pos(i);
        vek::i_named_string* s = vek_cast_i_named_string(o);
        out += (out.empty() ? "" : " ") + std::string(s->get_name()) + "=" + s->get_value();
        o->release();
    }
    EXPECT_EQ(col->release(), 0);
    return out;
}

class PropertyTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(m_pm->release(), 0);
        EXPECT_EQ(pm_item::s_live, 0);
    }

    vek::i_property_manager* m_pm = vek_create_property_manager();
};

TEST(PropertyNameLess, FoldsAsciiLettersToLowerCase)
{
    vek::property_name_less less;
    EXPECT_TRUE(less("a", "B"));
    EXPECT_FALSE(less("Color", "COLOR") || less("COLOR", "Color"));
    EXPECT_TRUE(less("ab", "ABC"));
    EXPECT_TRUE(less("_", "A"));  // '_' lies between the upper and lower case
    EXPECT_TRUE(less("z", "\xc4"));
}

TEST_F(PropertyTest, TextPropertiesIgnoreCaseKeepFirstSpellingAndRefuseNull)
{
    EXPECT_EQ(count_of(m_pm), 1);
    EXPECT_NE(vek_cast_i_property_manager(m_pm), nullptr);
    EXPECT_TRUE(m_pm->set_property("ghost", ""));  // creates nothing
    EXPECT_TRUE(m_pm->set_property("Color", "red"));
    EXPECT_STREQ(m_pm->get_property("COLOR"), "red");
    EXPECT_TRUE(m_pm->set_property("cOLOR", "blue"));
    EXPECT_EQ(listing(m_pm->get_properties()), "Color=blue");
    EXPECT_TRUE(m_pm->set_property("color", ""));  // empties, keeps the entry
    EXPECT_EQ(listing(m_pm->get_properties()), "Color=");

    EXPECT_FALSE(m_pm->set_property(nullptr, "v"));
    EXPECT_FALSE(m_pm->set_property("Color", nullptr));
    for (const char* missing : {static_cast<const char*>(nullptr), "ghost", "Colour"}) {
        ASSERT_NE(m_pm->get_property(missing), nullptr);
        EXPECT_STREQ(m_pm->get_property(missing), "");
    }
}

TEST_F(PropertyTest, ListingsAreOrderedSnapshots)
{
    for (const char* name : {"b", "A", "c", "_x"}) m_pm->set_property(name, name);
    vek::i_object_col* snap = m_pm->get_properties();
    EXPECT_EQ(count_of(snap), 1);
    vek::i_object* first = snap->get_item_by_pos(0);
    EXPECT_EQ(count_of(first), 2);  // the list's and ours
    vek_cast_i_string(first)->set_value("changed");
    first->release();
    m_pm->set_property("b", "new");
    EXPECT_EQ(listing(snap), "_x=changed A=A b=b c=c");
    EXPECT_EQ(listing(m_pm->get_properties()), "_x=_x A=A b=new c=c");
    EXPECT_EQ(listing(m_pm->get_objects()), "");
}

TEST_F(PropertyTest, ObjectsAreReferencedReplacedAndRemoved)
{
    pm_item *a = make_item(), *b = make_item();
    EXPECT_FALSE(m_pm->set_object(nullptr, a));
    EXPECT_TRUE(m_pm->set_object("none", nullptr));
    EXPECT_EQ(m_pm->get_object(nullptr), nullptr);

    EXPECT_TRUE(m_pm->set_object("Slot", a));
    EXPECT_EQ(a->release(), 1);                // the manager's reference only
    EXPECT_TRUE(m_pm->set_object("slot", a));  // must not destroy it on the way
    vek::i_object* got = m_pm->get_object("SLOT");
    EXPECT_EQ(got, static_cast<vek::i_object*>(a));
    EXPECT_EQ(count_of(a), 2);

    m_pm->set_object("other", b);
    EXPECT_TRUE(m_pm->set_object("slot", b));
    EXPECT_EQ(count_of(a), 1);
    EXPECT_EQ(count_of(b), 3);
    EXPECT_EQ(listing(m_pm->get_objects()), "other= Slot=");

    EXPECT_TRUE(m_pm->set_object("SLOT", nullptr));
    EXPECT_EQ(m_pm->get_object("slot"), nullptr);
    EXPECT_EQ(count_of(b), 2);
    EXPECT_EQ(listing(m_pm->get_objects()), "other=");
    EXPECT_EQ(got->release(), 0);
    EXPECT_EQ(b->release(), 1);  // destroying the manager releases "other"
}

TEST_F(PropertyTest, ObjectsAreReleasedOutsideTheLock)
{
    auto* pm = new probe_manager();
    pm->addref();
    std::string seen;
    for (const char* name : {"old", "removed"}) {
        pm_item* it = make_item();
        it->on_destroy = [&seen, pm] {
            seen += std::to_string(pm->lock_count());
            pm->set_property("destroyed", "yes");  // calls back in
        };
        pm->set_object(name, it);
        it->release();
    }
    pm_item* fresh = make_item();
    pm->set_object("old", fresh);
    fresh->release();
    pm->set_object("removed", nullptr);
    EXPECT_EQ(seen, "00");
    EXPECT_STREQ(pm->get_property("destroyed"), "yes");
    EXPECT_EQ(pm->release(), 0);
}

TEST_F(PropertyTest, ConcurrentSetAndGetFromEightThreads)
{
    pm_item* first = make_item();
    m_pm->set_object("Shared", first);
    first->release();
    std::atomic<int> bad{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            std::string own = "own" + std::to_string(t);
            for (int i = 0; i < 300; ++i) {
                pm_item* it = make_item();
                m_pm->set_object(i % 2 ? "shared" : "SHARED", it);
                m_pm->set_object(own.c_str(), it);
                it->release();
                vek::i_object* o = m_pm->get_object("Shared");
                bad += o == nullptr;
                o->release();
                o = m_pm->get_object(own.c_str());
                bad += o != static_cast<vek::i_object*>(it);
                o->release();

                std::string value = std::to_string(i);
                m_pm->set_property(own.c_str(), value.c_str());
                m_pm->set_property("shared", value.c_str());
                bad += value != m_pm->get_property(own.c_str());
                if (i % 30 == 0) m_pm->get_properties()->release();
            }
            m_pm->set_object(own.c_str(), nullptr);
        });
    }
    for (auto& w : workers) w.join();

    EXPECT_EQ(bad, 0);
    EXPECT_EQ(pm_item::s_live, 1);  // the last "shared" object
    EXPECT_STREQ(m_pm->get_property("shared"), "299");
    EXPECT_EQ(listing(m_pm->get_objects()), "Shared=");
}

}  // namespace
