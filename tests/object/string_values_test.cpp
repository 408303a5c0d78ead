#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <vek/vek_core.h>

namespace {

using list = std::vector<std::string>;

// Tokens as next() yields them, until it returns false.
list tokens(const char* text, bool skip_empty)
{
    vek::string_tokenizer t(text, ',');
    list out;
    char buf[16];
    while (t.next(buf, sizeof buf, skip_empty)) out.push_back(buf);
    return out;
}

TEST(StringTokenizer, EmptyTokensAndLeadingSeparators)
{
    EXPECT_EQ((list{"a", "", "b"}), tokens("a,,b", false));
    EXPECT_EQ((list{"a", "b"}), tokens("a,,b", true));
    EXPECT_EQ((list{"x"}), tokens(",x", false));
    EXPECT_EQ((list{"x"}), tokens(",x", true));
    EXPECT_EQ((list{"", "x"}), tokens(",,x", false));
    EXPECT_EQ((list{"x"}), tokens(",,x", true));

    vek::string_tokenizer empty("", ',');
    EXPECT_EQ(-1, empty.size(false));
    EXPECT_EQ(nullptr, empty.ptr());
}

TEST(StringTokenizer, TokenThatDoesNotFitLeavesSeparatorConsumed)
{
    const char* text = ",abcd,x";
    vek::string_tokenizer t(text, ',');
    char buf[8];
    EXPECT_FALSE(t.next(buf, 4, false));
    EXPECT_EQ(text + 1, t.ptr());
    EXPECT_TRUE(t.next(buf, 5, false));
    EXPECT_STREQ("abcd", buf);
}

TEST(FormatString, ResultsOfAnyLengthAreComplete)
{
    EXPECT_STREQ("", static_cast<const char*>(vek::format_string("%s", "")));
    EXPECT_STREQ("7:x", static_cast<const char*>(vek::format_string("%d:%s", 7, "x")));
    // Around the first block's 1024 bytes, and far beyond it.
    for (size_t n : {1022, 1023, 1024, 5000}) {
        std::string text(n, 'f');
        vek::format_string f("%s!", text.c_str());
        ASSERT_NE(nullptr, static_cast<const char*>(f));
        EXPECT_EQ(text + "!", static_cast<const char*>(f)) << n;
    }
}

TEST(FormatString, AssignmentFromItsOwnTextKeepsIt)
{
    vek::format_string a("%s", "abc");
    vek::format_string b(a);
    b = static_cast<const char*>(b);
    EXPECT_STREQ("abc", b);
    b = nullptr;
    EXPECT_EQ(nullptr, static_cast<const char*>(b));
}

TEST(AutoString, ComparesTextsAndNulls)
{
    vek::auto_string null_a, null_b;
    vek::auto_string x(strdup("x"));
    EXPECT_TRUE(null_a == null_b);
    EXPECT_FALSE(null_a == "x");
    EXPECT_FALSE(null_a == static_cast<const char*>(nullptr));
    EXPECT_FALSE(x == null_a);
    EXPECT_FALSE(x == "xy");

    vek::auto_string copy(x);
    EXPECT_NE(static_cast<const char*>(x), static_cast<const char*>(copy));
    EXPECT_TRUE(copy == x);
    vek::auto_string& same = x;
    x = same;
    EXPECT_TRUE(x == "x");
}

}  // namespace
