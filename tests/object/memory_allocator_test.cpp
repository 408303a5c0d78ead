#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(MemoryAllocator, PagesHandOutPiecesFirstFit)
{
    vek::memory_allocator a;
    unsigned short page = 9;
    unsigned int offset = 9;
    EXPECT_EQ(a.get_default_page_size(), 65536u);
    EXPECT_EQ(a.get_ptr(0, 0), nullptr);
    EXPECT_EQ(a.get_page_size(0), 0u);

    char* first = a.alloc_on_page(100, page, offset);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(page, 0);
    EXPECT_EQ(offset, 0u);
    char* second = a.alloc_on_page(100, page, offset);
    EXPECT_EQ(page, 0);
    EXPECT_EQ(offset, 100u);
    EXPECT_EQ(second, first + 100);
    EXPECT_EQ(a.get_ptr(0, 100), second);
    EXPECT_EQ(a.get_ptr(0, 65535), first + 65535);
    EXPECT_EQ(a.get_ptr(0, 65536), nullptr);
    EXPECT_EQ(a.get_ptr(1, 0), nullptr);
    EXPECT_TRUE(std::all_of(first, first + 65536, [](char ch) { return ch == 0; }));

    char* big = a.alloc_on_page(70000, page, offset);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(page, 1);
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(a.get_page_size(0), 65536u);
    EXPECT_EQ(a.get_page_size(1), 70000u);
    EXPECT_EQ(a.get_page_size(2), 0u);
    EXPECT_TRUE(std::all_of(big, big + 70000, [](char ch) { return ch == 0; }));

    // Page 0 is filled exactly; the oversized page takes nothing more.
    EXPECT_EQ(a.alloc_on_page(65336, page, offset), first + 200);
    EXPECT_EQ(page, 0);
    EXPECT_NE(a.alloc_on_page(1, page, offset), nullptr);
    EXPECT_EQ(page, 2);
    EXPECT_EQ(a.get_page_count(), 3u);
    EXPECT_EQ(a.get_alloc_count(), 100u + 100 + 70000 + 65336 + 1);
}

TEST(MemoryAllocator, HeapTableGrowsAndZeroesTheNewPart)
{
    vek::memory_allocator a(65536, 3);
    unsigned int capacity = 0, count = 0;
    void* table = nullptr;
    for (int i = 0; i < 4; ++i) {
        int* elem = static_cast<int*>(a.alloc_on_heap(capacity, count, sizeof(int), table, 0));
        ASSERT_EQ(elem, static_cast<int*>(table) + i);
        EXPECT_EQ(*elem, 0);
        *elem = 7 + i;
    }
    EXPECT_EQ(capacity, 6u);
    EXPECT_EQ(count, 4u);
    int* ints = static_cast<int*>(table);
    EXPECT_EQ(ints[2], 9);
    EXPECT_EQ(ints[3], 10);
    EXPECT_EQ(ints[4] | ints[5], 0);

    a.alloc_on_heap(capacity, count, sizeof(int), table, 0);
    a.alloc_on_heap(capacity, count, sizeof(int), table, 0);
    a.alloc_on_heap(capacity, count, sizeof(int), table, 10);  // an explicit step
    EXPECT_EQ(capacity, 16u);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(a.get_page_count(), 0u);
    EXPECT_EQ(a.get_alloc_count(), 0u);
    std::free(table);
}

// Trace output goes to a file under a scratch root.
class MemoryAllocatorTrace : public vek_test::scratch_core_test {
protected:
    void SetUp() override
    {
        scratch_core_test::SetUp();
        vek_set_trace_facility("trace.txt");
    }
    std::string trace_text()
    {
        vek_set_trace_facility("stdout");  // closes the file
        return vek_test::read_text(root / "trace.txt");
    }
};

TEST_F(MemoryAllocatorTrace, HugeTablesAreRefusedWithoutWrapping)
{
    vek::memory_allocator a;
    unsigned int capacity = 0, count = 0;
    void* table = nullptr;
    EXPECT_EQ(a.alloc_on_heap(capacity, count, 0x10000000, table, 1000), nullptr);
    EXPECT_EQ(capacity, 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(table, nullptr);

    // capacity + grow passes 32 bits.
    void* small = std::malloc(1);
    table = small;
    capacity = count = UINT_MAX;
    EXPECT_EQ(a.alloc_on_heap(capacity, count, 1, table, 1), nullptr);
    EXPECT_EQ(table, small);
    EXPECT_EQ(capacity, UINT_MAX);
    EXPECT_EQ(count, UINT_MAX);
    std::free(small);

    std::string text = trace_text();
    EXPECT_NE(text.find(": memory_allocator::alloc_on_heap: Insufficient memory to allocate 268435456000 bytes.\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(": memory_allocator::alloc_on_heap: Insufficient memory to allocate 4294967296 bytes.\n"),
              std::string::npos)
        << text;
}

}  // namespace
