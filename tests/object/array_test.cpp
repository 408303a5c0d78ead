// Pooled objects (blocks that live while any element is held) and the page
// allocator.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "test_support.h"

namespace {

using vek::array_object_factory;
using vek_test::count_of;

// Own = 1 keeps its own count, as the XML node does; Own = 0 leaves it at
// 0, as the pooled value types do. A second personal_destruct of one
// element would show in `destructs`. Each test has a Tag of its own.
template <int Own, int Tag>
struct counted : vek::array_object<counted<Own, Tag>> {
    static inline std::atomic<int> live{0}, destructs{0};
    int runs = (++live, 0);
    counted() { this->m_own_count = Own; }
    ~counted() override { --live; }
    void personal_destruct() override { destructs += ++runs; }
    // "live/destructs"
    static std::string state() { return std::to_string(live) + "/" + std::to_string(destructs); }
};
using node = counted<1, 0>;
using plain = counted<0, 0>;
using locked_node = counted<1, 1>;

TEST(ArrayFactoryTest, FullBlocksCloseAndBlocksAreFreedWithTheirLastElement)
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

TEST(ArrayFactoryTest, BlockLockingSharesBlocksBetweenThreads)
{
    array_object_factory<locked_node> f(100, true);
    std::thread threads[4];
    for (std::thread& t : threads) {
        t = std::thread([&f] {
            locked_node* held[50];
            for (int i = 0; i < 2500; ++i) {
                held[i % 50] = f.create(nullptr);
                held[i % 50]->addref();
                held[i % 50]->release();
                if (i % 50 == 49)
                    for (locked_node* h : held) h->release();
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(locked_node::state(), "0/10000");  // 100 full blocks, all closed and freed
}

// Pages are first fit, measured against the default size even when one was
// made larger for a big piece, and zeroed; heap tables grow by their step,
// zeroing the new part, and refuse sizes past 32 bits with a trace line.
TEST(MemoryAllocatorTest, PagesAndHeapTables)
{
    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    vek::memory_allocator a(65536, 3);
    EXPECT_EQ(a.get_ptr(0, 0), nullptr);  // no page yet
    unsigned short page = 9;
    unsigned int offset = 9;
    std::string at;  // "page:offset " per piece
    for (unsigned int n : {100, 100, 70000, 65336, 1}) {
        char* p = a.alloc_on_page(n, page, offset);
        EXPECT_EQ(p, a.get_ptr(page, offset)) << n;
        at += std::to_string(page) + ":" + std::to_string(offset) + " ";
    }
    EXPECT_EQ(at, "0:0 0:100 1:0 0:200 2:0 ");
    std::string sizes;
    for (unsigned short i = 0; i < 4; ++i) sizes += std::to_string(a.get_page_size(i)) + " ";
    EXPECT_EQ(sizes + std::to_string(a.get_page_count()), "65536 70000 65536 0 3");
    char *first = static_cast<char*>(a.get_ptr(0, 0)), *big = static_cast<char*>(a.get_ptr(1, 0));
    EXPECT_EQ(std::count(first, first + 65536, 0) + std::count(big, big + 70000, 0), 65536 + 70000);
    EXPECT_EQ(a.get_ptr(0, 65535), first + 65535);
    EXPECT_EQ(a.get_ptr(0, 65536), nullptr);
    EXPECT_EQ(a.get_ptr(3, 0), nullptr);

    unsigned int capacity = 0, count = 0;
    void* table = nullptr;
    for (int i = 0; i < 7; ++i) {
        int* elem = static_cast<int*>(a.alloc_on_heap(capacity, count, sizeof(int), table, i == 6 ? 10 : 0));
        ASSERT_EQ(elem, static_cast<int*>(table) + i);
        EXPECT_EQ(*elem, 0);
        *elem = 7 + i;
    }
    for (int i = 0; i < 7; ++i) EXPECT_EQ(static_cast<int*>(table)[i], 7 + i);
    EXPECT_EQ(std::to_string(capacity) + "/" + std::to_string(count), "16/7");
    // Refused, leaving the table as it was: 1000 * 2^28 bytes, and a
    // capacity past 32 bits.
    void *kept = table, *none = nullptr;
    unsigned int zero = 0, full = UINT_MAX;
    EXPECT_EQ(a.alloc_on_heap(zero, zero, 0x10000000, none, 1000), nullptr);
    EXPECT_EQ(a.alloc_on_heap(full, full, 1, table, 1), nullptr);
    EXPECT_TRUE(table == kept && none == nullptr);
    EXPECT_EQ(std::to_string(zero) + " " + std::to_string(full), "0 4294967295");
    std::free(table);
    // The tables count nowhere in the pages.
    EXPECT_EQ(a.get_page_count(), 3u);
    EXPECT_EQ(a.get_alloc_count(), 100u + 100 + 70000 + 65336 + 1);
    EXPECT_EQ(vek::memory_allocator().get_default_page_size(), 65536u);

    std::string out = testing::internal::GetCapturedStdout();
    for (const char* bytes : {"268435456000", "4294967296"}) {
        std::string line = std::string(": memory_allocator::alloc_on_heap: Insufficient memory to allocate ") + bytes;
        EXPECT_NE(out.find(line + " bytes.\n"), std::string::npos) << out;
    }
}

}  // namespace
