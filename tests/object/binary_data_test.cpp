#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using block_list = std::vector<std::pair<unsigned short, std::string>>;

std::string data_of(vek::i_binary_data_writer& w)
{
    const char* p = static_cast<const char*>(w.get_data());
    return p != nullptr ? std::string(p, w.get_data_size()) : std::string();
}

// The blocks of a stream, read with the reader, which must then stay
// exhausted.
block_list read_all(const void* data, unsigned int size)
{
    block_list blocks;
    vek::binary_data_reader r(data, size);
    while (r.next())
        blocks.emplace_back(r.get_block_type(),
                            std::string(static_cast<const char*>(r.get_block_ptr()), r.get_block_size()));
    EXPECT_FALSE(r.next());
    EXPECT_EQ(r.get_block_ptr(), nullptr);
    return blocks;
}

// Exposes the capacity so the growth rules can be checked.
class open_writer : public vek::binary_data_writer {
public:
    using binary_data_writer::binary_data_writer;
    unsigned int capacity() const { return m_capacity; }
};

TEST(BinaryDataWriterTest, WritesExactBytesAndNestsThreeLevels)
{
    vek::binary_data_writer flat;
    std::memcpy(flat.allocate_block(7, 3), "xyz", 3);
    flat.allocate_block(8, 0);
    EXPECT_EQ(data_of(flat), std::string("\0\7\0\0\0\3xyz\0\10\0\0\0\0", 15));

    // The innermost writer grows its block after allocating it: every
    // enclosing length follows.
    vek::binary_data_writer top;
    *static_cast<char*>(top.allocate_block(1, 1)) = 'x';
    vek::binary_data_writer mid(&top);
    std::memcpy(mid.allocate_block(0x0102, 2), "ab", 2);
    vek::binary_data_writer inner(&mid, 0xFFFF);
    *static_cast<char*>(inner.allocate_block(3, 1)) = 'c';
    std::memcpy(static_cast<char*>(inner.enlarge_block(2)) + 1, "de", 2);
    EXPECT_EQ(data_of(top), std::string("\0\1\0\0\0\1x"
                                        "\0\4\0\0\0\27"
                                        "\1\2\0\0\0\2ab"
                                        "\xFF\xFF\0\0\0\11"
                                        "\0\3\0\0\0\3cde",
                                        36));
    EXPECT_EQ(mid.get_data(), static_cast<const char*>(top.get_data()) + 13);
    EXPECT_EQ(inner.get_data_size(), 9u);
    EXPECT_EQ(read_all(inner.get_data(), 9), (block_list{{3, "cde"}}));

    vek::binary_data_reader r(nullptr, 0);
    EXPECT_EQ(vek_cast_i_binary_data_writer(&top), static_cast<vek::i_binary_data_writer*>(&top));
    EXPECT_EQ(vek_cast_i_binary_data_reader(&r), static_cast<vek::i_binary_data_reader*>(&r));
    EXPECT_EQ(vek_cast_i_binary_data_reader(&top), nullptr);
    EXPECT_EQ(vek_cast_i_binary_data_writer(&r), nullptr);
}

TEST(BinaryDataWriterTest, GrowsByTheCapacityRulesAndKeepsContent)
{
    open_writer w;
    EXPECT_EQ(w.enlarge_block(1), nullptr);  // no block yet
    const struct {
        bool enlarge;
        unsigned int size, used, capacity;
    } steps[] = {
        {false, 10, 16, 1040},        // first block: size + 1030
        {false, 1000, 1022, 1040},    // fits
        {false, 100, 1128, 2080},     // doubled
        {false, 5000, 6134, 8104},    // size >= capacity: capacity + size + 1024
        {true, 3000, 9134, 16208},    // doubled
        {true, 20000, 29134, 37232},  // incr >= capacity: capacity + incr + 1024
    };
    for (const auto& s : steps) {
        ASSERT_NE(s.enlarge ? w.enlarge_block(s.size) : w.allocate_block(1, s.size), nullptr);
        EXPECT_EQ(w.get_data_size(), s.used) << s.size;
        EXPECT_EQ(w.capacity(), s.capacity) << s.size;
    }
    // 10 000 blocks of varying sizes, some large, written whole or grown
    // after allocation; every tenth a composite that a child fills while the
    // parent's buffer moves under it.
    auto fill = [](unsigned int i) {
        std::string s(i % 997 == 0 ? 200000 + i : (i * 7919) % 1500, '\0');
        for (std::size_t k = 0; k < s.size(); ++k) s[k] = static_cast<char>(i * 31 + k);
        return s;
    };
    auto put = [&fill](vek::i_binary_data_writer& to, unsigned int i) {
        std::string s = fill(i);
        auto size = static_cast<unsigned int>(s.size());
        void* payload = to.allocate_block(static_cast<unsigned short>(i), i % 2 != 0 ? size : 0);
        if (payload != nullptr && i % 2 == 0) payload = to.enlarge_block(size);
        if (payload != nullptr) std::memcpy(payload, s.data(), size);
    };
    vek::binary_data_writer big;
    for (unsigned int i = 0; i < 10000; ++i) {
        if (i % 10 != 0) {
            put(big, i);
            continue;
        }
        vek::binary_data_writer child(&big, static_cast<unsigned short>(i));
        for (unsigned int j = 0; j < 3; ++j) put(child, i + j);
    }
    block_list blocks = read_all(big.get_data(), big.get_data_size());
    ASSERT_EQ(blocks.size(), 10000u);
    for (unsigned int i = 0; i < 10000; ++i) {
        ASSERT_EQ(blocks[i].first, i);
        if (i % 10 != 0) {
            ASSERT_EQ(blocks[i].second, fill(i)) << i;
            continue;
        }
        block_list inner = read_all(blocks[i].second.data(), static_cast<unsigned int>(blocks[i].second.size()));
        ASSERT_EQ(inner, (block_list{{i, fill(i)}, {i + 1, fill(i + 1)}, {i + 2, fill(i + 2)}})) << i;
    }
}

TEST(BinaryDataWriterTest, PrefixParentsAndDetachedBuffers)
{
    open_writer w(nullptr, 4, 8);
    EXPECT_EQ(w.get_data_size(), 8u);
    EXPECT_EQ(w.capacity(), 1032u);
    EXPECT_EQ(w.enlarge_block(1), nullptr);  // a prefix is no block
    vek::binary_data_writer other;
    EXPECT_FALSE(w.set_parent(&other, 4));
    std::memcpy(const_cast<void*>(w.get_data()), "HEADER!!", 8);
    std::memcpy(w.allocate_block(5, 2), "hi", 2);
    EXPECT_EQ(data_of(w), std::string("HEADER!!\0\5\0\0\0\2hi", 16));

    // set_parent only while empty; with a parent there is no prefix.
    vek::binary_data_writer late(nullptr, 4, 0), child(&other, 4, 8);
    EXPECT_EQ(child.get_data_size(), 0u);
    EXPECT_TRUE(late.set_parent(&other, 9));
    late.allocate_block(1, 0);
    EXPECT_FALSE(late.set_parent(nullptr, 4));
    EXPECT_EQ(data_of(other), std::string("\0\11\0\0\0\6\0\1\0\0\0\0", 12));

    // The caller owns a detached buffer; the writer starts afresh and frees
    // only its new one. A child (destroyed first) frees nothing: the
    // sanitizer build catches a double free or a leak.
    auto* d = new vek::binary_data_writer();
    d->addref();
    std::memcpy(d->allocate_block(2, 4), "data", 4);
    void* mine = const_cast<void*>(d->get_data());
    d->detach();
    EXPECT_EQ(d->get_data(), nullptr);
    EXPECT_EQ(d->get_data_size(), 0u);
    EXPECT_EQ(d->enlarge_block(1), nullptr);
    EXPECT_NE(d->allocate_block(3, 1), nullptr);
    EXPECT_EQ(d->release(), 0);
    EXPECT_EQ(std::string(static_cast<char*>(mine) + 6, 4), "data");
    std::free(mine);
}

TEST(BinaryDataWriterTest, RefusesSizesPast32BitsWithoutWrapping)
{
    vek_test::trace_to_stdout();
    testing::internal::CaptureStdout();
    vek::binary_data_writer fresh;
    EXPECT_EQ(fresh.allocate_block(1, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(fresh.get_data(), nullptr);
    vek::binary_data_writer w;
    std::memcpy(w.allocate_block(1, 4), "keep", 4);
    EXPECT_EQ(w.allocate_block(2, 0xFFFFFFF0u), nullptr);
    EXPECT_EQ(w.enlarge_block(0xFFFFFFF6u), nullptr);  // no message
    vek::binary_data_writer child(&w);
    EXPECT_EQ(child.allocate_block(1, 0xFFFFFFFAu), nullptr);  // the child's own total passes 32 bits
    EXPECT_EQ(child.allocate_block(1, 0xFFFFFFF0u), nullptr);  // refused by the parent
    EXPECT_EQ(data_of(w), std::string("\0\1\0\0\0\4keep", 10));
    vek::binary_data_writer prefixed(nullptr, 4, 0xFFFFFFFFu);
    EXPECT_EQ(prefixed.get_data(), nullptr);
    EXPECT_EQ(prefixed.allocate_block(1, 1), nullptr);
    std::string out = testing::internal::GetCapturedStdout();

    std::size_t at = 0;
    for (const char* line : {"allocate_block: error reallocating memory of size 4294968325\n",
                             "allocate_block: error reallocating memory of size 4294969338\n",
                             "allocate_block: error reallocating memory of size 4294969344\n",
                             "binary_data_writer: error allocating memory block of size 4294968319\n",
                             "allocate_block: error reallocating memory of size 4294968326\n"}) {
        at = out.find(std::string(": binary_data_writer::") + line, at);
        ASSERT_NE(at, std::string::npos) << line << out;
    }
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5) << out;
}

TEST(BinaryDataReaderTest, StopsAtTruncatedOrCorruptBlocks)
{
    const struct {
        const char* what;
        std::string data;
        std::vector<unsigned short> types;
    } cases[] = {
        {"empty", "", {}},
        {"under 6 bytes", std::string("\0\1\0\0\0", 5), {}},
        {"a block, then a cut header", std::string("\0\1\0\0\0\1a\0\2\0", 10), {1}},
        {"payload past the end", std::string("\0\1\0\0\0\0\0\2\0\0\0\12ab", 14), {1}},
        {"first payload past the end", std::string("\0\1\0\0\0\1", 6), {}},
        // 12 + 0xFFFFFFF8 wraps to 4 in 32 bits.
        {"length near 4 GiB",
         std::string("\0\1\0\0\0\0\0\2\xFF\xFF\xFF\xF8"
                     "ab",
                     14),
         {1}},
        {"empty blocks to the end", std::string("\0\1\0\0\0\0\xAB\xCD\0\0\0\0", 12), {1, 0xABCD}},
    };
    for (const auto& c : cases) {
        vek::binary_data_reader r(c.data.data(), static_cast<unsigned int>(c.data.size()));
        EXPECT_EQ(r.get_block_type(), 0) << c.what;  // before the first block
        for (int pass = 0; pass < 2; ++pass, r.reset()) {
            std::vector<unsigned short> seen;
            while (r.next()) seen.push_back(r.get_block_type());
            EXPECT_EQ(seen, c.types) << c.what;
            EXPECT_FALSE(r.next()) << c.what;  // stays exhausted
            EXPECT_EQ(r.get_block_size() + r.get_block_type(), 0u) << c.what;
        }
    }
    vek::binary_data_reader no_data(nullptr, 6);
    EXPECT_FALSE(no_data.next());
}

}  // namespace
