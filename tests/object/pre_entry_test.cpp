// This program never calls the library's entry, so no thread may start.
#include <gtest/gtest.h>

#include <vek/vek_core.h>

struct idle : vek::object, vek::thread_creator {
    void run(void*) {}
};

TEST(PreEntryTest, NoThreadBeforeTheLibraryEntry)
{
    vek_enable_trace(false);
    ASSERT_TRUE(vek_initialize());
    idle obj;
    EXPECT_FALSE(obj.create_thread(&obj, static_cast<vek::thread_creator::thread_function>(&idle::run), nullptr));
    EXPECT_EQ(obj.get_threads_count(), 0u);
    vek_terminate();
}
