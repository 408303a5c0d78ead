#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "test_support.h"

using vek_test::count_of;
using vek_test::probe;

TEST(ObjectTest, CountsFromZeroAndOnlyTheReleaseToZeroDestroys)
{
    auto* obj = new probe();
    EXPECT_EQ(obj->addref(), 1);
    EXPECT_EQ(obj->addref(), 2);
    EXPECT_EQ(obj->release(), 1);
    EXPECT_EQ(obj->release(), 0);
    EXPECT_EQ(probe::live.load(), 0);
    {
        probe on_stack;  // its scope ends it, never a release
        EXPECT_EQ(on_stack.release(), -1);
        EXPECT_EQ(probe::live.load(), 1);
        on_stack.addref();
    }
    EXPECT_EQ(probe::live.load(), 0);
}

TEST(ObjectTest, InterfaceNamesAreExactAndAddNoReference)
{
    vek::i_named_string* s = vek_create_named_string("n", "v");
    void* p = nullptr;
    EXPECT_TRUE(s->get_interface("i_string", &p));
    EXPECT_EQ(p, static_cast<void*>(static_cast<vek::i_string*>(s)));
    for (const char* wrong : {"I_STRING", "i_str", "i_string ", "", "i_object"}) {
        p = &p;
        EXPECT_FALSE(s->get_interface(wrong, &p)) << wrong;
        EXPECT_EQ(p, nullptr) << wrong;
    }
    EXPECT_EQ(vek_cast_i_object(s), nullptr);
    EXPECT_EQ(vek_cast_i_string(nullptr), nullptr);
    EXPECT_EQ(count_of(s), 1);
    s->release();

    vek::i_object_col_x* col = vek_create_col();
    EXPECT_NE(vek_cast_i_named_object(col), nullptr);
    EXPECT_EQ(vek_cast_property_manager_object(col), nullptr);
    col->release();
}

TEST(ObjectTest, NamesAreCopiedOrTakenOverAndNeverNull)
{
    probe p("first");
    EXPECT_FALSE(p.set_name(nullptr));
    EXPECT_STREQ(p.get_name(), "first");
    EXPECT_TRUE(p.set_name(""));
    ASSERT_NE(p.get_name(), nullptr);
    EXPECT_STREQ(p.get_name(), "");
    char buf[] = "copied";
    p.set_name(buf);
    buf[0] = 'X';
    EXPECT_STREQ(p.get_name(), "copied");
    EXPECT_TRUE(p.assign_name(strdup("taken")));  // freed by the object
    EXPECT_STREQ(p.get_name(), "taken");
    EXPECT_TRUE(p.assign_name(nullptr));
    EXPECT_STREQ(p.get_name(), "");
}

TEST(ObjectTest, AutoPtrTakesOverTheCreatorsReference)
{
    vek::i_string* raw = vek_create_string("x");
    raw->addref();
    {
        auto_ptr_t<vek::i_string> held(raw);
    }
    EXPECT_EQ(count_of(raw), 1);
    {
        auto_ptr_t<vek::i_string> held(raw);
        EXPECT_EQ(held.detach(), raw);
    }
    auto_ptr_t<vek::i_string> last(raw);
    last = vek_create_string("y");  // releases raw, holds the new one
    EXPECT_STREQ(last->get_value(), "y");
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
    EXPECT_EQ(obj->release(), 0);
    EXPECT_EQ(probe::live.load(), 0);
}
