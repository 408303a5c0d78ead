// The block stream writer and reader: exact bytes, growth, nesting, and
// refusals of sizes that do not fit in 32 bits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "object_helpers.h"

namespace {

using block_list = std::vector<std::pair<unsigned short, std::string>>;

// The blocks of a stream, read with the reader.
auto read_all = [](const std::string& data) {
    block_list blocks;
    vek::binary_data_reader r(data.data(), static_cast<unsigned int>(data.size()));
    while (r.next())
        blocks.emplace_back(r.get_block_type(),
                            std::string(static_cast<const char*>(r.get_block_ptr()), r.get_block_size()));
    return blocks;
};

// Exposes the capacity: a writer that grew on every block would double it
// each time.
struct open_writer : vek::binary_data_writer {
    unsigned int capacity() const { return m_capacity; }
};

// Sizes past 32 bits are refused with a trace line (none for a block that
// cannot grow further), leaving the stream as it was.
TEST(BinaryDataWriterTest, GrowsByTheCapacityRulesAndRefusesSizesPast32Bits)
{
    open_writer w;
    // {grows the last block, size, used, capacity}: the first block gets
    // size + 1030; a full buffer is doubled, or takes capacity + size + 1024
    // when size >= capacity.
    const unsigned int steps[][4] = {{0, 10, 16, 1040},     {0, 1000, 1022, 1040},  {0, 100, 1128, 2080},
                                     {0, 5000, 6134, 8104}, {1, 3000, 9134, 16208}, {1, 20000, 29134, 37232}};
    for (auto& s : steps) {
        ASSERT_NE(s[0] ? w.enlarge_block(s[1]) : w.allocate_block(1, s[1]), nullptr);
        EXPECT_EQ(std::make_pair(w.get_data_size(), w.capacity()), std::make_pair(s[2], s[3])) << s[1];
    }

    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    EXPECT_EQ(w.allocate_block(2, 0xFFFFFFF0u), nullptr);
    EXPECT_EQ(w.enlarge_block(0xFFFFFFF6u), nullptr);
    vek::binary_data_writer child(&w);
    EXPECT_EQ(child.allocate_block(1, 0xFFFFFFFAu), nullptr);  // the child's own total passes 32 bits
    EXPECT_EQ(std::make_pair(w.get_data_size(), w.capacity()), std::make_pair(29134u, 37232u));
    EXPECT_EQ(data_of(&w).substr(1128, 6), std::string("\0\1\0\0\x6d\x60", 6));  // the last block, 28000 bytes
    vek::binary_data_writer prefixed(nullptr, 4, 0xFFFFFFFFu);
    EXPECT_TRUE(prefixed.get_data() == nullptr && prefixed.allocate_block(1, 1) == nullptr);

    EXPECT_EQ(untimed(testing::internal::GetCapturedStdout()),
              "binary_data_writer::allocate_block: error reallocating memory of size 4295005536\n"
              "binary_data_writer::binary_data_writer: error allocating memory block of size 4294968319\n"
              "binary_data_writer::allocate_block: error reallocating memory of size 4294968326\n");
}

TEST(BinaryDataWriterTest, WritesExactBytesAfterPrefixesAndThroughMovingParents)
{
    vek::binary_data_writer flat;
    std::memcpy(flat.allocate_block(7, 3), "xyz", 3);
    std::memset(static_cast<char*>(flat.enlarge_block(0x0100)) + 3, 'e', 0x0100);  // the block, not its new part
    EXPECT_EQ(data_of(&flat), std::string("\0\7\0\0\1\3xyz", 9) + std::string(0x0100, 'e'));

    // The innermost writer grows its block after allocating it: every
    // enclosing length follows.
    vek::binary_data_writer top, mid(&top), inner(&mid, 0xFFFF);
    *static_cast<char*>(top.allocate_block(1, 1)) = 'x';
    std::memcpy(mid.allocate_block(0x0102, 2), "ab", 2);
    *static_cast<char*>(inner.allocate_block(3, 1)) = 'c';
    std::memcpy(static_cast<char*>(inner.enlarge_block(2)) + 1, "de", 2);
    EXPECT_EQ(data_of(&top),
              std::string("\0\1\0\0\0\1x\0\4\0\0\0\27\1\2\0\0\0\2ab\377\377\0\0\0\11\0\3\0\0\0\3cde", 36));

    // A block past 128 KiB moves the top buffer under both children.
    std::memset(inner.allocate_block(4, 200000), 'f', 200000);
    std::memcpy(mid.allocate_block(5, 1), "g", 1);
    EXPECT_EQ(read_all(data_of(&inner)), (block_list{{3, "cde"}, {4, std::string(200000, 'f')}}));
    EXPECT_EQ(read_all(read_all(data_of(&top)).at(1).second),
              (block_list{{0x0102, "ab"}, {0xFFFF, data_of(&inner)}, {5, "g"}}));

    // A reserved prefix comes before the first block.
    vek::binary_data_writer w(nullptr, 4, 8), other, late(nullptr, 4, 0), child(&other, 4, 8);
    EXPECT_EQ(w.enlarge_block(1), nullptr);  // a prefix is no block
    EXPECT_FALSE(w.set_parent(&other, 4));
    std::memcpy(const_cast<void*>(w.get_data()), "HEADER!!", 8);
    std::memcpy(w.allocate_block(5, 2), "hi", 2);
    EXPECT_EQ(data_of(&w), std::string("HEADER!!\0\5\0\0\0\2hi", 16));

    // set_parent only while empty; with a parent there is no prefix.
    EXPECT_EQ(child.get_data_size(), 0u);
    EXPECT_TRUE(late.set_parent(&other, 9));
    late.allocate_block(1, 0);
    EXPECT_EQ(data_of(&other), std::string("\0\11\0\0\0\6\0\1\0\0\0\0", 12));

    // The caller owns a detached buffer; the writer starts afresh and frees
    // only its new one. A child (destroyed first) frees nothing: the
    // sanitizer build catches a double free or a leak.
    vek::binary_data_writer d;
    std::memcpy(d.allocate_block(2, 4), "data", 4);
    void* mine = const_cast<void*>(d.get_data());
    d.detach();
    EXPECT_TRUE(d.get_data() == nullptr && d.get_data_size() == 0 && d.enlarge_block(1) == nullptr);
    EXPECT_NE(d.allocate_block(3, 1), nullptr);
    std::free(mine);  // a double free if the writer had let it go
}

TEST(BinaryDataReaderTest, StopsAtTruncatedOrCorruptBlocks)
{
    // {stream, the block types read from it}
    const std::pair<std::string, std::vector<unsigned short>> cases[] = {
        {std::string("\0\1\0\0\0", 5), {}},                     // under 6 bytes
        {std::string("\0\1\0\0\0\1a\0\2\0", 10), {1}},          // a block, then a cut header
        {std::string("\0\1\0\0\0\0\0\2\0\0\0\12ab", 14), {1}},  // payload past the end
        {std::string("\0\1\0\0\0\1", 6), {}},                   // first payload past the end
        // 12 + 0xFFFFFFF8 wraps to 4 in 32 bits.
        {std::string("\0\1\0\0\0\0\0\2\377\377\377\370ab", 14), {1}},
        {std::string("\0\1\0\0\0\0\xAB\xCD\0\0\0\0", 12), {1, 0xABCD}},  // empty blocks to the end
    };
    for (const auto& [data, types] : cases) {
        SCOPED_TRACE(testing::PrintToString(data));
        vek::binary_data_reader r(data.data(), static_cast<unsigned int>(data.size()));
        EXPECT_EQ(r.get_block_type(), 0);  // before the first block
        std::vector<unsigned short> seen;
        while (r.next()) seen.push_back(r.get_block_type());
        EXPECT_EQ(seen, types);
        EXPECT_FALSE(r.next());  // stays exhausted
        EXPECT_TRUE(r.get_block_size() + r.get_block_type() == 0 && r.get_block_ptr() == nullptr);
    }
    EXPECT_FALSE(vek::binary_data_reader(nullptr, 6).next());
}

}  // namespace
