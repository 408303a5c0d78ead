// The reference-counted base, names, interface queries and the value types
// (strings, texts, tokens, binary buffers).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "object_helpers.h"

namespace {

// The names `obj` answers, of those the library's classes know and a few
// near misses; a refusal must leave a null pointer, and a null name (or a
// null out pointer) is never answered.
std::string answered(vek::i_object* obj)
{
    std::string out;
    for (const char* name : {"i_object", "i_string", "i_named_string", "i_named_object", "i_typed_object", "i_binary",
                             "i_object_col", "i_object_col_x", "i_property_manager", "property_manager_object",
                             "i_binary_data_writer", "i_binary_data_reader", "I_STRING", "i_string ", ""}) {
        void* p = &p;
        bool yes = obj->get_interface(name, &p);
        EXPECT_EQ(yes, p != nullptr) << name;
        if (yes) out += std::string(out.empty() ? "" : " ") + name;
    }
    return out + (obj->get_interface(nullptr, nullptr) ? " (null)" : "");
}

TEST(ObjectTest, EachTypeAnswersExactlyItsNamesAndAddsNoReference)
{
    vek::array_object_factory<vek::array_string> strings(1, false);  // one-element blocks close at once
    vek::array_object_factory<vek::array_named_string> named(1, false);
    vek::array_object_factory<vek::array_object_col> cols(1, false);
    vek::array_object_col* pooled_col = cols.create(nullptr);
    pooled_col->add_item(new probe("x"), false);
    const std::pair<vek::i_object*, const char*> rows[] = {
        {vek_create_string("v"), "i_string"},
        {vek_create_named_string("n", "v"), "i_string i_named_string i_named_object"},
        {vek_create_col(), "i_named_object i_object_col i_object_col_x"},
        {vek_create_property_manager(), "i_property_manager"},
        {held(new vek::binary), "i_binary"},
        {held(new vek::binary_data_writer), "i_binary_data_writer"},
        {held(new vek::binary_data_reader(nullptr, 0)), "i_binary_data_reader"},
        {strings.create(nullptr), "i_string"},
        {named.create(nullptr), "i_string i_named_string i_named_object"},
        {pooled_col, "i_object_col"},
    };
    // Each comes with one reference; freeing a pooled element's block
    // releases what it holds.
    for (const auto& [obj, names] : rows) {
        EXPECT_EQ(answered(obj), names);
        EXPECT_EQ(obj->release(), 0) << names;
    }
    EXPECT_EQ(probe::live, 0);

    vek::array_binary ab("ab", 2, false);  // never counted
    EXPECT_EQ(data_of(vek_cast_i_binary(&ab)), "ab");
}

// A release at 0 destroys nothing; names are copied or taken over, never
// null; the holder takes over the creator's reference.
TEST(ObjectTest, NamesAndHoldersTakeOverWhatTheyAreGiven)
{
    probe p("first");  // ended by its scope, never by a release
    EXPECT_EQ(p.release(), -1);
    p.addref();
    std::string seen;  // result and name per change
    auto note = [&](bool ok) { seen += std::to_string(ok) + p.get_name() + " "; };
    note(p.set_name(nullptr));
    note(p.set_name(""));
    note(p.set_name("copied"));            // a copy: the object frees its own
    note(p.assign_name(strdup("taken")));  // freed by the object
    note(p.assign_name(nullptr));
    EXPECT_EQ(seen, "0first 1 1copied 1taken 1 ");

    probe* first = held(new probe);
    EXPECT_EQ(auto_ptr_t<probe>(first).detach(), first);  // gives it back unreleased
    auto_ptr_t<probe> last(first);                        // takes over, adds nothing
    last = held(new probe);                               // releases the first, holds the new one
    EXPECT_EQ(probe::live, 2);
}

// Strings show as "capacity:text". Buffers never shrink; they grow to the
// size needed (at least 256) or double once the text and its terminator
// reach the end. Tokens show as "[token]", then "@offset" where a token too
// long for the buffer stopped the tokenizer.
TEST(StringTest, BuffersGrowAtTheBoundariesAndTextsSurviveTheirOwnCopies)
{
    auto st = [](vek::string& s) { return std::to_string(s.get_max_buf_size()) + ":" + s.get_value(); };
    vek::string s(std::string(300, 'a').c_str()), b, c(std::string(250, 'c').c_str()), z;
    EXPECT_TRUE(s.set_value(nullptr));
    EXPECT_EQ(st(s), "301:");  // emptied, never shrunk
    EXPECT_TRUE(s.reserve(1000));
    EXPECT_EQ(st(s), "1001:");
    b.concatn(std::string(300, 'b').c_str(), 256);  // 257
    b.concat(b.get_value());                        // its own text, found again after realloc
    EXPECT_EQ(st(b), "514:" + std::string(512, 'b'));
    c.concat("12345");                 // from 256: 256 >= 256, doubled
    c.set_value(c.get_value() + 250);  // its own tail
    EXPECT_EQ(st(c), "512:12345");
    z.concatn("ab", 4);  // zero-filled past "ab"
    z.concat("z");
    char* p = z.detach();  // the caller's now
    EXPECT_EQ(std::memcmp(p, "ab\0\0z", 6), 0);
    std::free(p);
    EXPECT_EQ(st(z), "0:");
    z.assign(strdup("abc"));
    z.concat("d");  // 5 >= 4
    EXPECT_EQ(st(z), "8:abcd");
    z.assign(nullptr);  // frees "abcd"

    auto tokens = [](const char* text, bool skip_empty) {
        vek::string_tokenizer t(text, ',');
        std::string out;
        for (char buf[8]; t.next(buf, sizeof buf, skip_empty);) out += "[" + std::string(buf) + "]";
        return t.ptr() ? out + "@" + std::to_string(t.ptr() - text) : out;
    };
    const char* rows[][3] = {{"a,,b", "[a][][b]", "[a][b]"}, {",x", "[x]", "[x]"}, {",abcdefgh,x", "@1", "@1"}};
    for (auto& row : rows)
        EXPECT_EQ(tokens(row[0], false) + "|" + tokens(row[0], true), std::string(row[1]) + "|" + row[2]) << row[0];

    // The first block holds 1022 characters.
    for (size_t n : {1021, 1022})
        EXPECT_EQ(std::string(vek::format_string("%s!", std::string(n, 'f').c_str())), std::string(n, 'f') + "!");
    vek::format_string f("%s", "abc");
    f = static_cast<const char*>(f);  // its own text
    EXPECT_STREQ(f, "abc");

    vek::auto_string null_a, null_b, x(strdup("x")), copy(x), &same = x;
    x = same;  // self-assignment keeps the text
    EXPECT_TRUE(null_a == null_b && copy == x && x == "x");
    EXPECT_FALSE(null_a == "x" || null_a == static_cast<const char*>(nullptr) || x == null_a);
}

TEST(BinaryTest, CopiesTakesOverAndDetachesBlocks)
{
    const char text[] = "abc";
    vek::binary copied(text, 3, false), detached(text, 3, false);
    EXPECT_EQ(data_of(&copied), "abc");
    EXPECT_TRUE(copied.set_data(nullptr, 5) && copied.get_data() == nullptr);

    void* block = std::malloc(4);
    vek::binary taken(block, 4, true);  // freed by the buffer (checked by the sanitizer build)
    taken.assign_data(block, 4);        // the same block again: kept, not freed
    EXPECT_EQ(taken.get_data(), block);
    vek::binary(const_cast<char*>(text), 0, true);  // size 0: never freed by the buffer

    std::free(const_cast<void*>(detached.get_data()));  // the caller's once detached
    detached.detach();
    EXPECT_EQ(detached.get_data(), nullptr);
}

}  // namespace
