#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <vek/vek_core.h>

#include "test_support.h"

namespace {

using vek_test::count_of;

TEST(String, BufferSizesAtTheGrowthBoundaries)
{
    vek::string s("abc");
    EXPECT_EQ(256u, s.get_max_buf_size());
    s.set_value(std::string(300, 'a').c_str());
    EXPECT_EQ(301u, s.get_max_buf_size());
    EXPECT_TRUE(s.set_value(nullptr));
    s.concat("z");
    EXPECT_STREQ("z", s.get_value());
    EXPECT_EQ(301u, s.get_max_buf_size());  // never shrinks

    vek::string a, b;
    a.concatn("hello", 5);
    b.concatn(std::string(300, 'b').c_str(), 256);
    EXPECT_EQ(256u, a.get_max_buf_size());
    EXPECT_EQ(257u, b.get_max_buf_size());
    b.concat(b.get_value());  // own text, found again after realloc
    EXPECT_EQ(514u, b.get_max_buf_size());
    EXPECT_EQ(std::string(512, 'b'), b.get_value());

    vek::string c(std::string(250, 'c').c_str());
    c.concat("1234");  // 255 < 256
    EXPECT_EQ(256u, c.get_max_buf_size());
    c.concat("5");  // 256 >= 256
    EXPECT_EQ(512u, c.get_max_buf_size());
    c.set_value(c.get_value() + 250);
    EXPECT_STREQ("12345", c.get_value());

    vek::string r;
    r.reserve(100);
    r.concat("abc");
    EXPECT_TRUE(r.reserve(1000));
    EXPECT_EQ(1001u, r.get_max_buf_size());
    EXPECT_STREQ("abc", r.get_value());
}

TEST(String, ConcatnZeroFillsAndDetachAssignMoveOwnership)
{
    vek::string s("xy");
    s.concatn("ab", 4);
    s.concat("z");
    EXPECT_EQ(0, std::memcmp(s.get_value(), "xyab\0\0z", 8));

    char* p = s.detach();
    EXPECT_STREQ("xyab", p);
    std::free(p);
    EXPECT_STREQ("", s.get_value());
    EXPECT_EQ(nullptr, s.detach());
    s.assign(strdup("abc"));
    EXPECT_EQ(4u, s.get_max_buf_size());
    s.concat("d");  // 5 >= 4
    EXPECT_EQ(8u, s.get_max_buf_size());
    s.assign(nullptr);  // frees "abcd"
}

TEST(String, CreatorsReturnOneReferenceAndAnswerExactNamesOnly)
{
    vek::i_string* s = vek_create_string("v");
    EXPECT_EQ(1, count_of(s));
    EXPECT_EQ(0, s->release());

    auto_ptr_t<vek::i_named_string> n(vek_create_named_string("n", "v"));
    EXPECT_EQ(1, count_of(n));
    void* p = &p;
    EXPECT_TRUE(!n->get_interface("i_string ", &p) && p == nullptr);
    ASSERT_TRUE(n->get_interface("i_named_object", &p));
    EXPECT_STREQ("n", static_cast<vek::i_named_object*>(p)->get_name());
}

}  // namespace
