#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "test_support.h"

TEST(BinaryTest, CopiesTakesOverAndDetachesBlocks)
{
    const char text[] = "abc";
    vek::binary copied(text, 3, false);
    EXPECT_NE(copied.get_data(), static_cast<const void*>(text));
    EXPECT_EQ(std::memcmp(copied.get_data(), "abc", 3), 0);
    EXPECT_TRUE(copied.set_data(nullptr, 5));
    EXPECT_EQ(copied.get_data(), nullptr);
    EXPECT_EQ(copied.get_data_size(), 0u);

    void* block = std::malloc(4);
    vek::binary taken(block, 4, true);  // freed by the buffer (checked by the sanitizer build)
    EXPECT_EQ(taken.get_data(), block);
    taken.assign_data(block, 4);  // the same block again: kept, not freed
    EXPECT_EQ(taken.get_data_size(), 4u);

    char stack_block[2] = {'x', 'y'};
    {
        vek::binary recorded(stack_block, 0, true);
    }  // size 0: never freed by the buffer

    vek::binary detached(text, 3, false);
    void* mine = const_cast<void*>(detached.get_data());
    detached.detach();
    EXPECT_EQ(detached.get_data(), nullptr);
    std::free(mine);

    void* p = nullptr;
    EXPECT_TRUE(copied.get_interface("i_binary", &p));
    EXPECT_EQ(vek_cast_i_binary(&copied), static_cast<vek::i_binary*>(&copied));
    EXPECT_EQ(vek_cast_i_string(&copied), nullptr);
}
