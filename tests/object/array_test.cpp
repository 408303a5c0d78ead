// Pooled objects (blocks that live while any element is held) and the page
// allocator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "object_helpers.h"

namespace {

using vek::array_object_factory;
using node = counted<1, 0>;
using plain = counted<0, 0>;

// Elements show as "live/destructs" of their type.
TEST(ArrayFactoryTest, FullBlocksCloseAndBlocksAreFreedWithTheirLastElement)
{
    auto f = std::make_unique<array_object_factory<node>>(2, false);
    node *a = f->create(nullptr), *b = f->create(nullptr), *c = f->create(nullptr);
    EXPECT_EQ(count_of(a), 2);  // closed: only the users' references are left
    EXPECT_EQ(a->release(), 1);
    EXPECT_EQ(node::state(), "4/1");
    EXPECT_EQ(b->release(), 0);
    EXPECT_EQ(node::state(), "2/2");
    f.reset();  // goes with c handed out: the other element is destructed
    EXPECT_EQ(node::state(), "2/3");
    EXPECT_EQ(c->release(), 0);
    EXPECT_EQ(node::state(), "0/4");

    // Without an own count, personal_destruct never runs.
    array_object_factory<plain> g(1, false);
    EXPECT_EQ(g.create(nullptr)->release(), 0);
    EXPECT_EQ(plain::state(), "0/0");
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
    std::string at;  // "page:offset " per piece, then the page sizes and count
    for (unsigned int n : {100, 100, 70000, 65336, 1}) {
        char* p = a.alloc_on_page(n, page, offset);
        EXPECT_EQ(p, a.get_ptr(page, offset)) << n;
        at += std::to_string(page) + ":" + std::to_string(offset) + " ";
    }
    for (unsigned short i = 0; i < 4; ++i) at += std::to_string(a.get_page_size(i)) + " ";
    EXPECT_EQ(at + std::to_string(a.get_page_count()), "0:0 0:100 1:0 0:200 2:0 65536 70000 65536 0 3");
    char *first = static_cast<char*>(a.get_ptr(0, 0)), *big = static_cast<char*>(a.get_ptr(1, 0));
    EXPECT_EQ(std::count(first, first + 65536, 0) + std::count(big, big + 70000, 0), 65536 + 70000);
    EXPECT_TRUE(a.get_ptr(0, 65536) == nullptr && a.get_ptr(3, 0) == nullptr);

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
    // Refused, leaving the table as it was: 1000 * 2^28 bytes do not fit
    // in 32 bits.
    void* none = nullptr;
    unsigned int zero = 0;
    EXPECT_EQ(a.alloc_on_heap(zero, zero, 0x10000000, none, 1000), nullptr);
    EXPECT_TRUE(none == nullptr && zero == 0);
    std::free(table);
    // The tables count nowhere in the pages.
    EXPECT_EQ(std::to_string(a.get_page_count()) + " " + std::to_string(a.get_alloc_count()), "3 135537");

    EXPECT_EQ(untimed(testing::internal::GetCapturedStdout()),
              "memory_allocator::alloc_on_heap: Insufficient memory to allocate 268435456000 bytes.\n");
}

}  // namespace
