#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "test_support.h"

using vek_test::count_of;
using vek_test::probe;

namespace {

// Counts destructions so that a destroying release can be observed.
class counted : public vek::object {
public:
    explicit counted(int* destroyed) : m_destroyed(destroyed) {}
    ~counted() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

}  // namespace

TEST(ObjectTest, CountStartsAtZeroAndLastReleaseDestroys)
{
    int destroyed = 0;
    auto* obj = new counted(&destroyed);
    EXPECT_EQ(obj->addref(), 1);
    EXPECT_EQ(obj->addref(), 2);
    EXPECT_EQ(obj->release(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(obj->release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectTest, ReleaseAtZeroGoesNegativeWithoutDestroying)
{
    int destroyed = 0;
    {
        counted obj(&destroyed);  // lives on the stack: its scope ends it
        EXPECT_EQ(obj.release(), -1);
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(obj.addref(), 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectTest, InterfaceNamesAreExactAndObjectAnswersNone)
{
    vek::i_named_string* s = vek_create_named_string("n", "v");
    void* p = reinterpret_cast<void*>(1);
    EXPECT_TRUE(s->get_interface("i_string", &p));
    EXPECT_EQ(p, static_cast<void*>(static_cast<vek::i_string*>(s)));
    for (const char* wrong : {"I_STRING", "i_str", "i_string ", "", "i_object"}) {
        p = reinterpret_cast<void*>(1);
        EXPECT_FALSE(s->get_interface(wrong, &p)) << wrong;
        EXPECT_EQ(p, nullptr) << wrong;
    }
    EXPECT_FALSE(s->get_interface("i_object", nullptr));
    // No reference is added by a query.
    EXPECT_EQ(count_of(s), 1);
    s->release();
}

TEST(ObjectTest, CastsReturnInterfacesWithoutReferences)
{
    EXPECT_EQ(vek_cast_i_string(nullptr), nullptr);
    EXPECT_EQ(vek_cast_i_object(nullptr), nullptr);
    EXPECT_EQ(vek_cast_i_core(nullptr), nullptr);

    vek::i_object_col_x* col = vek_create_col();
    vek_cast_i_named_object(col)->set_name("things");
    EXPECT_EQ(vek_cast_i_object(col), nullptr);
    vek::i_named_object* named = vek_cast_i_named_object(col);
    ASSERT_NE(named, nullptr);
    EXPECT_STREQ(named->get_name(), "things");
    EXPECT_NE(vek_cast_i_object_col(col), nullptr);
    EXPECT_EQ(vek_cast_i_string(col), nullptr);
    EXPECT_EQ(vek_cast_property_manager_object(col), nullptr);
    EXPECT_EQ(count_of(col), 1);
    col->release();

    vek::i_property_manager* pm = vek_create_property_manager();
    EXPECT_EQ(vek_cast_i_property_manager(pm), pm);
    EXPECT_EQ(vek_cast_property_manager_object(pm), nullptr);
    pm->release();
}

TEST(ObjectTest, NamesAreCopiedTakenOverAndNeverNull)
{
    probe p("first");
    EXPECT_STREQ(p.get_name(), "first");
    EXPECT_FALSE(p.set_name(nullptr));
    EXPECT_STREQ(p.get_name(), "first");
    EXPECT_TRUE(p.set_name(""));
    ASSERT_NE(p.get_name(), nullptr);
    EXPECT_STREQ(p.get_name(), "");
    char buf[] = "copied";
    p.set_name(buf);
    buf[0] = 'X';
    EXPECT_STREQ(p.get_name(), "copied");
    EXPECT_TRUE(p.assign_name(strdup("taken")));
    EXPECT_STREQ(p.get_name(), "taken");
    EXPECT_TRUE(p.assign_name(nullptr));
    EXPECT_STREQ(p.get_name(), "");
    EXPECT_EQ(p.get_id(), 0);
}

TEST(ObjectTest, AutoPtrTakesOverTheCreatorsReference)
{
    vek::i_string* raw = vek_create_string("x");
    raw->addref();
    {
        auto_ptr_t<vek::i_string> held(raw);
        EXPECT_EQ(count_of(raw), 2);
        EXPECT_STREQ(held->get_value(), "x");
    }
    EXPECT_EQ(count_of(raw), 1);
    {
        auto_ptr_t<vek::i_string> held(raw);
        EXPECT_EQ(held.detach(), raw);
    }
    EXPECT_EQ(count_of(raw), 1);
    auto_ptr_t<vek::i_string> last(raw);
    last = nullptr;  // releases the last reference
    EXPECT_EQ(last.get(), nullptr);
    EXPECT_EQ(probe::live.load(), 0);
}

TEST(ObjectTest, ConcurrentAddrefReleaseKeepsTheCount)
{
    auto* obj = new probe("shared");
    obj->addref();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([obj] {
            for (int i = 0; i < 100000; ++i) {
                obj->addref();
                obj->release();
            }
            for (int i = 0; i < 1000; ++i) obj->addref();
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(count_of(obj), 1 + 8 * 1000);
    for (int i = 0; i < 8 * 1000; ++i) obj->release();
    EXPECT_EQ(probe::live.load(), 1);
    EXPECT_EQ(obj->release(), 0);
    EXPECT_EQ(probe::live.load(), 0);
}
