#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <vek/vek_core.h>

namespace {

using list = std::vector<std::string>;

list tokens(const char* text, bool skip_empty)
{
    vek::string_tokenizer t(text, ',');
    list out;
    char buf[16];
    while (t.next(buf, sizeof buf, skip_empty)) out.push_back(buf);
    return out;
}

TEST(StringTokenizer, EmptyTokensLeadingSeparatorsAndTooLongTokens)
{
    EXPECT_EQ((list{"a", "", "b"}), tokens("a,,b", false));
    EXPECT_EQ((list{"a", "b"}), tokens("a,,b", true));
    EXPECT_EQ((list{"x"}), tokens(",x", false));
    EXPECT_EQ((list{"x"}), tokens(",x", true));
    EXPECT_EQ((list{"", "x"}), tokens(",,x", false));
    EXPECT_EQ((list{"x"}), tokens(",,x", true));
    EXPECT_EQ(list{}, tokens("", false));

    const char* text = ",abcd";
    vek::string_tokenizer t(text, ',');
    char buf[8];
    EXPECT_FALSE(t.next(buf, 4, false));
    EXPECT_EQ(text + 1, t.ptr());  // the separator stays consumed
}

TEST(FormatString, ResultsOfAnyLengthAreCompleteAndOwnTextCanBeAssigned)
{
    for (size_t n : {0, 1021, 1022, 1023, 1024, 5000}) {
        std::string text(n, 'f');
        EXPECT_STREQ((text + "!").c_str(), vek::format_string("%s!", text.c_str())) << n;
    }
    vek::format_string b("%s", "abc");
    b = static_cast<const char*>(b);
    EXPECT_STREQ("abc", b);
}

TEST(AutoString, ComparesTextsAndNulls)
{
    vek::auto_string null_a, null_b, x(strdup("x"));
    EXPECT_TRUE(null_a == null_b);
    EXPECT_FALSE(null_a == "x");
    EXPECT_FALSE(null_a == static_cast<const char*>(nullptr));
    EXPECT_FALSE(x == null_a);

    vek::auto_string copy(x), &same = x;
    x = same;  // self-assignment keeps the text
    EXPECT_TRUE(copy == x && x == "x");
}

}  // namespace
