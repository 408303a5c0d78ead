#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using vek::array_object_factory;
using vek_test::count_of;

// Own = 1 keeps its own count, as the XML node does; Own = 0 leaves it at
// 0, as the pooled value types do.
template <int Own>
struct counted : vek::array_object<counted<Own>> {
    static inline std::atomic<int> live{0}, destructs{0};
    bool destructed = false;
    counted()
    {
        this->m_own_count = Own;
        ++live;
    }
    ~counted() override { --live; }
    void personal_destruct() override
    {
        EXPECT_FALSE(std::exchange(destructed, true)) << "personal_destruct ran twice";
        ++destructs;
    }
    // "live/destructs"
    static std::string state() { return std::to_string(live) + "/" + std::to_string(destructs); }
};
using node = counted<1>;
using plain = counted<0>;

struct ArrayFactory : ::testing::Test {
    void SetUp() override { node::live = node::destructs = plain::live = plain::destructs = 0; }
};

TEST_F(ArrayFactory, FullBlocksCloseAndBlocksAreFreedWithTheirLastElement)
{
    auto f = std::make_unique<array_object_factory<node>>(100, false);
    std::vector<node*> first;
    for (int i = 0; i < 100; ++i) first.push_back(f->create(nullptr));
    EXPECT_EQ(count_of(first[0]), 100);  // closed: only the users' references are left
    node* kept[3];
    for (node*& n : kept) n = f->create(nullptr);
    EXPECT_EQ(count_of(kept[0]), 103);  // open: the factory's 100 as well
    for (int i = 0; i < 99; ++i) first[i]->release();
    EXPECT_EQ(node::state(), "200/99");
    EXPECT_EQ(first[99]->release(), 0);
    EXPECT_EQ(node::state(), "100/100");

    // The factory goes with 3 handed out: the 97 others are destructed.
    f.reset();
    EXPECT_EQ(kept[0]->release(), 2);
    EXPECT_EQ(kept[1]->release(), 1);
    EXPECT_EQ(node::state(), "100/199");
    EXPECT_EQ(kept[2]->release(), 0);
    EXPECT_EQ(node::state(), "0/200");

    // Without an own count, personal_destruct never runs.
    auto g = std::make_unique<array_object_factory<plain>>(2, false);
    plain* p = g->create(nullptr);
    g.reset();
    EXPECT_EQ(plain::state(), "2/0");
    EXPECT_EQ(p->release(), 0);
    EXPECT_EQ(plain::state(), "0/0");
}

TEST_F(ArrayFactory, BlockLockingSharesBlocksBetweenThreads)
{
    array_object_factory<node> f(100, true);
    std::thread threads[4];
    for (std::thread& t : threads) {
        t = std::thread([&f] {
            node* held[50];
            for (int i = 0; i < 2500; ++i) {
                held[i % 50] = f.create(nullptr);
                held[i % 50]->addref();
                held[i % 50]->release();
                if (i % 50 == 49)
                    for (node* h : held) h->release();
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(node::state(), "0/10000");  // 100 full blocks, all closed and freed
}

TEST(ArrayTypes, PooledValueTypesAnswerTheirTwinsNames)
{
    void* p = nullptr;
    vek_test::probe::live = 0;
    // One-element blocks close at once: each is freed with its element.
    array_object_factory<vek::array_string> strings(1, false);
    array_object_factory<vek::array_named_string> named(1, false);
    array_object_factory<vek::array_object_col> cols(1, false);

    vek::array_string* s = strings.create(nullptr);
    ASSERT_TRUE(s->get_interface("i_string", &p));
    EXPECT_EQ(p, static_cast<vek::i_string*>(s));
    EXPECT_FALSE(s->get_interface("i_named_object", &p));
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(s->release(), 0);

    vek::array_named_string* n = named.create(nullptr);
    for (const char* name : {"i_named_string", "i_named_object", "i_string"}) EXPECT_TRUE(n->get_interface(name, &p));
    EXPECT_FALSE(n->get_interface("I_STRING", &p));
    EXPECT_FALSE(n->get_interface(nullptr, &p));
    EXPECT_EQ(n->release(), 0);

    vek::array_object_col* c = cols.create(nullptr);
    EXPECT_TRUE(c->get_interface("i_object_col", &p));
    EXPECT_FALSE(c->get_interface("i_string", &p));
    c->add_item(new vek_test::probe("x"), false);
    EXPECT_EQ(vek_test::probe::live, 1);
    EXPECT_EQ(c->release(), 0);
    EXPECT_EQ(vek_test::probe::live, 0);  // freeing the block released the item

    // The value constructors, on objects that are never counted.
    vek::array_named_string pair("name", "val");
    EXPECT_STREQ(pair.get_name(), "name");
    EXPECT_STREQ(pair.get_value(), "val");
    EXPECT_STREQ(vek::array_string("v").get_value(), "v");
    vek::array_binary bytes("ab", 2, false);
    ASSERT_TRUE(bytes.get_interface("i_binary", &p));
    EXPECT_EQ(static_cast<vek::i_binary*>(p)->get_data_size(), 2u);
}

}  // namespace
