// The reference-counted base, names, interface queries and the value types
// (strings, texts, tokens, binary buffers).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using vek_test::count_of;
using vek_test::probe;

// Gives the caller one reference.
auto held = [](auto* p) { return p->addref(), p; };

auto bytes = [](vek::i_binary* b) { return std::string(static_cast<const char*>(b->get_data()), b->get_data_size()); };

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

TEST(ObjectTest, CountsFromZeroAcrossThreadsAndOnlyTheReleaseToZeroDestroys)
{
    probe on_stack;                     // ended by its scope, never by a release
    EXPECT_EQ(on_stack.release(), -1);  // a release at 0 destroys nothing
    on_stack.addref();
    auto* obj = new probe();
    EXPECT_EQ(obj->addref(), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([obj] {
            for (int i = 0; i < 100000; ++i) obj->addref(), obj->release();
            for (int i = 0; i < 1000; ++i) obj->addref();
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(obj->release(), 8000);
    for (int i = 0; i < 7999; ++i) obj->release();
    EXPECT_EQ(obj->release(), 0);
    EXPECT_EQ(probe::live, 1);  // on_stack
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
    EXPECT_EQ(bytes(vek_cast_i_binary(&ab)), "ab");
}

// Names are copied or taken over, never null; the holder takes over the
// creator's reference.
TEST(ObjectTest, NamesAndHoldersTakeOverWhatTheyAreGiven)
{
    probe p("first");
    std::string seen;  // result and name per change
    auto note = [&](bool ok) { seen += std::to_string(ok) + p.get_name() + " "; };
    note(p.set_name(nullptr));
    note(p.set_name(""));
    char buf[] = "copied";
    p.set_name(buf);
    buf[0] = 'X';
    note(true);
    note(p.assign_name(strdup("taken")));  // freed by the object
    note(p.assign_name(nullptr));
    EXPECT_EQ(seen, "0first 1 1copied 1taken 1 ");

    probe* first = held(new probe);
    EXPECT_EQ(auto_ptr_t<probe>(first).detach(), first);  // gives it back unreleased
    auto_ptr_t<probe> last(first);
    EXPECT_EQ(count_of(first), 1);
    last = held(new probe);  // releases the first, holds the new one
    EXPECT_EQ(probe::live, 2);
}

TEST(StringTest, BuffersGrowAtTheBoundariesAndFindTheirOwnText)
{
    auto st = [](vek::string& s) { return std::to_string(s.get_max_buf_size()) + ":" + s.get_value(); };
    vek::string s(std::string(300, 'a').c_str()), b, c(std::string(250, 'c').c_str());
    EXPECT_TRUE(s.set_value(nullptr));
    s.concat("z");
    EXPECT_EQ(st(s), "301:z");  // never shrinks
    EXPECT_TRUE(s.reserve(1000));
    EXPECT_EQ(st(s), "1001:z");
    b.concatn(std::string(300, 'b').c_str(), 256);  // 257
    b.concat(b.get_value());                        // its own text, found again after realloc
    EXPECT_EQ(st(b), "514:" + std::string(512, 'b'));
    c.concat("12345");                 // from 256: 256 >= 256, doubled
    c.set_value(c.get_value() + 250);  // its own tail
    EXPECT_EQ(st(c), "512:12345");

    vek::string z;
    EXPECT_TRUE(z.reserve(1));  // allocates the first buffer
    z.concat("xy");
    z.concatn("ab", 4);  // zero-filled past "ab"
    z.concat("z");
    EXPECT_EQ(std::memcmp(z.get_value(), "xyab\0\0z", 8), 0);
    char* p = z.detach();
    EXPECT_STREQ(p, "xyab");
    std::free(p);
    EXPECT_EQ(st(z), "0:");
    EXPECT_EQ(z.detach(), nullptr);
    z.assign(strdup("abc"));
    z.concat("d");  // 5 >= 4
    EXPECT_EQ(st(z), "8:abcd");
    z.assign(nullptr);  // frees "abcd"
}

TEST(StringTest, TokensFormattedTextsAndAutoStrings)
{
    auto tokens = [](const char* text, bool skip_empty) {
        vek::string_tokenizer t(text, ',');
        std::string out;
        for (char buf[16]; t.next(buf, sizeof buf, skip_empty);) out += "[" + std::string(buf) + "]";
        return out;
    };
    const char* rows[][3] = {
        {"a,,b", "[a][][b]", "[a][b]"}, {",x", "[x]", "[x]"}, {",,x", "[][x]", "[x]"}, {"", "", ""}};
    for (auto& row : rows)
        EXPECT_EQ(tokens(row[0], false) + "|" + tokens(row[0], true), std::string(row[1]) + "|" + row[2]) << row[0];
    const char* text = ",abcd";
    vek::string_tokenizer t(text, ',');
    char buf[8];
    EXPECT_FALSE(t.next(buf, 4, false));  // too long
    EXPECT_EQ(t.ptr(), text + 1);         // the separator stays consumed

    for (size_t n : {0, 1021, 1022, 1023, 1024, 5000})
        EXPECT_EQ(std::string(vek::format_string("%s!", std::string(n, 'f').c_str())), std::string(n, 'f') + "!");
    vek::format_string f("%s", "abc");
    f = static_cast<const char*>(f);  // its own text
    EXPECT_STREQ(f, "abc");

    vek::auto_string null_a, null_b, x(strdup("x"));
    vek::auto_string copy(x), &same = x;
    x = same;  // self-assignment keeps the text
    EXPECT_TRUE(null_a == null_b && copy == x && x == "x");
    EXPECT_FALSE(null_a == "x" || null_a == static_cast<const char*>(nullptr) || x == null_a);
}

TEST(BinaryTest, CopiesTakesOverAndDetachesBlocks)
{
    const char text[] = "abc";
    vek::binary copied(text, 3, false), detached(text, 3, false);
    EXPECT_NE(copied.get_data(), static_cast<const void*>(text));
    EXPECT_EQ(bytes(&copied), "abc");
    EXPECT_TRUE(copied.set_data(nullptr, 5));
    EXPECT_EQ(copied.get_data(), nullptr);

    void* block = std::malloc(4);
    vek::binary taken(block, 4, true);  // freed by the buffer (checked by the sanitizer build)
    taken.assign_data(block, 4);        // the same block again: kept, not freed
    EXPECT_EQ(taken.get_data(), block);
    char stack_block[2] = {'x', 'y'};
    vek::binary(stack_block, 0, true);  // size 0: never freed by the buffer

    void* mine = const_cast<void*>(detached.get_data());
    detached.detach();
    EXPECT_EQ(detached.get_data(), nullptr);
    std::free(mine);
}

}  // namespace
