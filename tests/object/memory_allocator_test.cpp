#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "test_support.h"

namespace {

TEST(MemoryAllocator, PagesHandOutZeroedPiecesFirstFitAndHeapTablesGrow)
{
    vek::memory_allocator a(65536, 3);
    unsigned short page = 9;
    unsigned int offset = 9;
    auto at = [&](unsigned int n) {  // "page:offset" of a new piece of n bytes
        return a.alloc_on_page(n, page, offset) ? std::to_string(page) + ":" + std::to_string(offset) : "null";
    };
    EXPECT_EQ(a.get_ptr(0, 0), nullptr);
    EXPECT_EQ(a.get_page_size(0), 0u);
    EXPECT_EQ(at(100), "0:0");
    EXPECT_EQ(at(100), "0:100");
    char* first = static_cast<char*>(a.get_ptr(0, 0));
    EXPECT_EQ(a.get_ptr(0, 65535), first + 65535);
    EXPECT_EQ(a.get_ptr(0, 65536), nullptr);
    EXPECT_EQ(a.get_ptr(1, 0), nullptr);
    EXPECT_EQ(std::count(first, first + 65536, 0), 65536);
    EXPECT_EQ(at(70000), "1:0");
    EXPECT_EQ(a.get_page_size(1), 70000u);
    EXPECT_EQ(a.get_page_size(2), 0u);
    char* big = static_cast<char*>(a.get_ptr(1, 0));
    EXPECT_EQ(std::count(big, big + 70000, 0), 70000);
    // Page 0 is filled exactly; the oversized page takes nothing more.
    EXPECT_EQ(a.alloc_on_page(65336, page, offset), first + 200);
    EXPECT_EQ(at(1), "2:0");
    EXPECT_EQ(a.get_page_size(0), 65536u);
    EXPECT_EQ(a.get_page_count(), 3u);

    // Heap tables grow by 3, or by an explicit step, zeroing the new part;
    // they count nowhere in the pages.
    unsigned int capacity = 0, count = 0;
    void* table = nullptr;
    for (int i = 0; i < 7; ++i) {
        int* elem = static_cast<int*>(a.alloc_on_heap(capacity, count, sizeof(int), table, i == 6 ? 10 : 0));
        ASSERT_EQ(elem, static_cast<int*>(table) + i);
        EXPECT_EQ(*elem, 0);
        *elem = 7 + i;
    }
    for (int i = 0; i < 7; ++i) EXPECT_EQ(static_cast<int*>(table)[i], 7 + i);
    EXPECT_EQ(capacity, 16u);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(a.get_page_count(), 3u);
    EXPECT_EQ(a.get_alloc_count(), 100u + 100 + 70000 + 65336 + 1);
    std::free(table);
}

using MemoryAllocatorTrace = vek_test::scratch_core_test;

TEST_F(MemoryAllocatorTrace, HugeTablesAreRefusedWithoutWrapping)
{
    vek_set_trace_facility("trace.txt");
    vek::memory_allocator a;
    EXPECT_EQ(a.get_default_page_size(), 65536u);
    unsigned int capacity = 0, count = 0;
    void* table = nullptr;
    EXPECT_EQ(a.alloc_on_heap(capacity, count, 0x10000000, table, 1000), nullptr);
    EXPECT_EQ(capacity | count, 0u);
    EXPECT_EQ(table, nullptr);

    // capacity + grow passes 32 bits.
    void* small = table = std::malloc(1);
    capacity = count = UINT_MAX;
    EXPECT_EQ(a.alloc_on_heap(capacity, count, 1, table, 1), nullptr);
    EXPECT_EQ(table, small);
    EXPECT_EQ(capacity & count, UINT_MAX);
    std::free(small);

    vek_set_trace_facility("stdout");  // closes the file
    std::string text = vek_test::read_text(root / "trace.txt");
    for (const char* bytes : {"268435456000", "4294967296"}) {
        std::string line = std::string(": memory_allocator::alloc_on_heap: Insufficient memory to allocate ") + bytes;
        EXPECT_NE(text.find(line + " bytes.\n"), std::string::npos) << text;
    }
}

}  // namespace
