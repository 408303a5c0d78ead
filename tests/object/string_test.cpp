#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <vek/vek_core.h>

namespace {

// Exposes the length so tests can check it apart from the text.
class probe_string : public vek::string {
public:
    using vek::string::string;
    unsigned int length() const { return m_length; }
};

int count_of(vek::i_object* o)
{
    o->addref();
    return o->release();
}

TEST(String, AssignmentGrowsToExactSizeButNotBelow256AndNeverShrinks)
{
    probe_string s("abc");
    EXPECT_EQ(256u, s.get_max_buf_size());
    s.set_value(std::string(300, 'a').c_str());
    EXPECT_EQ(301u, s.get_max_buf_size());
    s.set_value("x");
    EXPECT_TRUE(s.set_value(nullptr));
    EXPECT_STREQ("", s.get_value());
    EXPECT_EQ(0u, s.length());
    EXPECT_EQ(301u, s.get_max_buf_size());
    EXPECT_EQ(0u, probe_string("").get_max_buf_size());
}

TEST(String, AppendingDoublesUntilTerminatorFitsWithOneByteSpare)
{
    probe_string a, b;
    a.concatn("hello", 5);
    b.concatn(std::string(300, 'b').c_str(), 256);
    EXPECT_EQ(256u, a.get_max_buf_size());
    EXPECT_EQ(257u, b.get_max_buf_size());

    probe_string c(std::string(250, 'c').c_str());
    c.concat("1234");  // 255 < 256
    EXPECT_EQ(256u, c.get_max_buf_size());
    c.concat("5");  // 256 >= 256
    EXPECT_EQ(512u, c.get_max_buf_size());
    EXPECT_STREQ("12345", c.get_value() + 250);

    probe_string d("0123456789");
    d.concat(std::string(1000, 'd').c_str());  // 1011: 256 -> 512 -> 1024
    EXPECT_EQ(1024u, d.get_max_buf_size());
    EXPECT_EQ(1010u, d.length());
}

TEST(String, ConcatnZeroFillsPastTheEndOfTheSource)
{
    probe_string s("xy");
    s.concatn("ab", 4);
    EXPECT_EQ(6u, s.length());
    EXPECT_EQ(0, std::memcmp(s.get_value(), "xyab\0\0\0", 7));
    s.concat("z");
    EXPECT_EQ('z', s.get_value()[6]);
}

TEST(String, OwnTextAsSourceSurvivesMovesAndReallocation)
{
    probe_string s("abcdef");
    s.set_value(s.get_value() + 2);
    EXPECT_STREQ("cdef", s.get_value());

    std::string text(200, 'r');
    s.set_value(text.c_str());
    s.concat(s.get_value());
    EXPECT_EQ(512u, s.get_max_buf_size());
    EXPECT_EQ(text + text, s.get_value());
}

TEST(String, ReserveSetsExactSizeAndKeepsContent)
{
    probe_string s;
    EXPECT_TRUE(s.reserve(100));
    EXPECT_EQ(101u, s.get_max_buf_size());
    EXPECT_STREQ("", s.get_value());
    s.set_value("abc");
    EXPECT_TRUE(s.reserve(1000));
    EXPECT_EQ(1001u, s.get_max_buf_size());
    EXPECT_STREQ("abc", s.get_value());
}

TEST(String, DetachHandsOverTheBufferAndAssignTakesOneOver)
{
    probe_string s("hello");
    char* p = s.detach();
    EXPECT_STREQ("hello", p);
    std::free(p);
    EXPECT_STREQ("", s.get_value());
    EXPECT_EQ(0u, s.get_max_buf_size());
    EXPECT_EQ(nullptr, s.detach());

    s.assign(strdup("abc"));
    EXPECT_EQ(4u, s.get_max_buf_size());
    s.concat("d");  // 5 >= 4
    EXPECT_EQ(8u, s.get_max_buf_size());
    s.assign(nullptr);  // frees "abcd"
    EXPECT_EQ(0u, s.get_max_buf_size());
}

TEST(String, CreatorsReturnOneReferenceAndAnswerExactNamesOnly)
{
    vek::i_string* s = vek_create_string("v");
    EXPECT_EQ(1, count_of(s));
    EXPECT_EQ(2, s->addref());
    EXPECT_EQ(1, s->release());
    void* p = &p;
    EXPECT_FALSE(s->get_interface("i_named_object", &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(0, s->release());

    auto_ptr_t<vek::i_named_string> n(vek_create_named_string("n", "v"));
    EXPECT_EQ(1, count_of(n));
    ASSERT_TRUE(n->get_interface("i_string", &p));
    EXPECT_STREQ("v", static_cast<vek::i_string*>(p)->get_value());
    ASSERT_TRUE(n->get_interface("i_named_object", &p));
    EXPECT_STREQ("n", static_cast<vek::i_named_object*>(p)->get_name());
    ASSERT_TRUE(n->get_interface("i_named_string", &p));
    EXPECT_EQ(n.get(), p);
    for (const char* name : {"I_STRING", "i_str", "i_string ", "i_object"}) {
        p = &p;
        EXPECT_FALSE(n->get_interface(name, &p)) << name;
        EXPECT_EQ(nullptr, p) << name;
    }
}

}  // namespace
