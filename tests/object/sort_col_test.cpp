#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using vek_test::probe;

// Answers neither "i_named_object" nor "i_typed_object".
struct unnamed : probe {
    using probe::probe;
    bool get_interface(const char* n, void** pp) override { return vek::object::get_interface(n, pp); }
};

std::string ids_of(vek::i_object_col* col)
{
    std::string out;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_typed_object* t = vek_cast_i_typed_object(col->get_item_by_pos(i));
        out += std::to_string(t->get_id());
        t->release();
    }
    return out;
}

TEST(SortColTest, OrdersByUnsignedBytesKeepsTiesInOrderAndDropsUnnamedItems)
{
    EXPECT_EQ(vek_sort_col(nullptr, true), nullptr);
    vek::i_object_col_x* src = vek_create_col();
    for (probe* it :
         std::initializer_list<probe*>{new probe("b", 1), new probe("a", 2), new unnamed("x", 3), new probe("a", 4),
                                       new probe("", 5), new probe("B", 6), new probe("\xe4", 7), new probe("a", 8)})
        src->add_item(it);  // the only reference
    vek::i_object_col* up = vek_sort_col(src, true);
    vek::i_object_col* down = vek_sort_col(src, false);
    EXPECT_EQ(vek_cast_i_object_col_x(up), nullptr);
    EXPECT_EQ(ids_of(up), "5624817");  // "" B a a a b 0xe4
    EXPECT_EQ(ids_of(down), "7184265");
    EXPECT_EQ(src->release() + up->release() + down->release(), 0);
    EXPECT_EQ(probe::live, 0);
}

}  // namespace
