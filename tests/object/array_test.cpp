#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using vek::array_object_factory;

// Tracks its own count, as the XML node does.
struct node : vek::array_object<node> {
    static inline std::atomic<int> live{0}, destructs{0}, twice{0};
    bool destructed = false;
    node()
    {
        m_own_count = 1;
        ++live;
    }
    ~node() override { --live; }
    void personal_destruct() override
    {
        if (destructed) ++twice;
        destructed = true;
        ++destructs;
    }
};

// Leaves its own count at 0, as the pooled value types do.
struct plain : vek::array_object<plain> {
    static inline std::atomic<int> live{0}, destructs{0};
    plain() { ++live; }
    ~plain() override { --live; }
    void personal_destruct() override { ++destructs; }
};

class ArrayFactory : public ::testing::Test {
protected:
    void SetUp() override { node::live = node::destructs = node::twice = plain::live = plain::destructs = 0; }
    void TearDown() override
    {
        EXPECT_EQ(node::live, 0);
        EXPECT_EQ(node::twice, 0);
        EXPECT_EQ(plain::live, 0);
    }
};

TEST_F(ArrayFactory, FullBlockClosesAndIsFreedByItsLastRelease)
{
    auto f = std::make_unique<array_object_factory<node>>(100, false);
    std::vector<node*> first;
    for (int i = 0; i < 100; ++i) first.push_back(f->create(nullptr));
    EXPECT_EQ(node::live, 100);
    // Closed: only the 100 users' references are left on the counter.
    EXPECT_EQ(first[0]->addref(), 101);
    EXPECT_EQ(first[0]->release(), 100);
    EXPECT_EQ(node::destructs, 0);

    node* next = f->create(nullptr);
    EXPECT_EQ(node::live, 200);

    for (int i = 0; i < 99; ++i) first[i]->release();
    EXPECT_EQ(node::live, 200);
    EXPECT_EQ(node::destructs, 99);
    EXPECT_EQ(first[99]->release(), 0);
    EXPECT_EQ(node::live, 100);
    EXPECT_EQ(node::destructs, 100);

    f.reset();
    EXPECT_EQ(node::destructs, 199);  // the 99 never handed out
    EXPECT_EQ(next->release(), 0);
    EXPECT_EQ(node::destructs, 200);
}

TEST_F(ArrayFactory, DestroyedFactoryLeavesHandedOutElementsUsable)
{
    auto f = std::make_unique<array_object_factory<node>>(100, false);
    node* kept[3];
    for (node*& n : kept) n = f->create(nullptr);
    EXPECT_EQ(kept[0]->addref(), 104);
    EXPECT_EQ(kept[0]->release(), 103);
    f.reset();
    EXPECT_EQ(node::live, 100);
    EXPECT_EQ(node::destructs, 97);
    EXPECT_EQ(kept[1]->addref(), 4);
    EXPECT_EQ(kept[1]->release(), 3);
    EXPECT_FALSE(kept[1]->destructed);
    EXPECT_EQ(kept[0]->release(), 2);
    EXPECT_EQ(kept[1]->release(), 1);
    EXPECT_EQ(node::live, 100);
    EXPECT_EQ(kept[2]->release(), 0);
    EXPECT_EQ(node::destructs, 100);

    // Without an own count, personal_destruct never runs.
    auto g = std::make_unique<array_object_factory<plain>>(2, false);
    plain* p = g->create(nullptr);
    g.reset();
    EXPECT_EQ(plain::live, 2);
    EXPECT_EQ(p->release(), 0);
    EXPECT_EQ(plain::destructs, 0);
}

TEST_F(ArrayFactory, BlockLockingSharesBlocksBetweenThreads)
{
    array_object_factory<node> f(100, true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&f] {
            std::vector<node*> held;
            for (int i = 0; i < 2500; ++i) {
                node* n = f.create(nullptr);
                n->addref();
                n->release();
                held.push_back(n);
                if (held.size() == 50) {
                    for (node* h : held) h->release();
                    held.clear();
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    // 10000 creates fill exactly 100 blocks, all closed and released.
    EXPECT_EQ(node::live, 0);
    EXPECT_EQ(node::destructs, 10000);
}

TEST(ArrayTypes, PooledValueTypesBehaveAsTheirTwins)
{
    void* p = nullptr;
    vek_test::probe::live = 0;
    auto strings = std::make_unique<array_object_factory<vek::array_string>>(4, false);
    auto named = std::make_unique<array_object_factory<vek::array_named_string>>(4, false);
    auto cols = std::make_unique<array_object_factory<vek::array_object_col>>(4, false);

    vek::array_string* s = strings->create(nullptr);
    ASSERT_TRUE(s->get_interface("i_string", &p));
    EXPECT_EQ(p, static_cast<vek::i_string*>(s));
    EXPECT_FALSE(s->get_interface("i_named_object", &p));
    EXPECT_EQ(p, nullptr);
    s->set_value("abc");
    s->concat("def");
    EXPECT_STREQ(s->get_value(), "abcdef");
    EXPECT_EQ(s->addref(), 6);  // the block counter: no own count is kept
    EXPECT_EQ(s->release(), 5);

    vek::array_named_string* n = named->create(nullptr);
    for (const char* name : {"i_named_string", "i_named_object", "i_string"})
        EXPECT_TRUE(n->get_interface(name, &p)) << name;
    EXPECT_FALSE(n->get_interface("I_STRING", &p));
    EXPECT_FALSE(n->get_interface(nullptr, &p));
    n->set_name("key");
    n->set_value("val");
    EXPECT_STREQ(n->get_name(), "key");
    EXPECT_STREQ(n->get_value(), "val");

    vek::array_object_col* c = cols->create(nullptr);
    EXPECT_TRUE(c->get_interface("i_object_col", &p));
    EXPECT_FALSE(c->get_interface("i_string", &p));
    auto* item = new vek_test::probe("x");
    c->add_item(item, false);
    EXPECT_EQ(vek_test::count_of(item), 1);
    EXPECT_EQ(c->get_count(), 1u);

    strings.reset();
    named.reset();
    cols.reset();
    EXPECT_EQ(s->release(), 0);
    EXPECT_EQ(n->release(), 0);
    EXPECT_EQ(vek_test::probe::live, 1);
    EXPECT_EQ(c->release(), 0);
    EXPECT_EQ(vek_test::probe::live, 0);  // freeing the block released the item

    // The value constructors, on objects that are never counted.
    vek::array_string local("v");
    vek::array_named_string pair("name", "val");
    EXPECT_STREQ(local.get_value(), "v");
    EXPECT_STREQ(pair.get_name(), "name");
    EXPECT_STREQ(pair.get_value(), "val");
}

}  // namespace
