#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "test_support.h"

using vek_test::count_of;

namespace {

using vars = std::map<std::string, std::string>;

// A substitutor backed by a map; counts the names it was asked for and its
// live instances. With `leave` set it takes itself out of that collection
// when asked.
struct map_subst : vek::object, vek::i_var_subst {
    static inline std::atomic<int> live{0};
    vars values;
    std::atomic<int> asked{0};
    vek::i_object_col_x* leave;

    explicit map_subst(vars v, vek::i_object_col_x* col = nullptr) : values(std::move(v)), leave(col) { ++live; }
    ~map_subst() override { --live; }
    char* get_variable_value(const char* variable) override
    {
        ++asked;
        if (leave != nullptr) leave->remove_item(this);
        auto it = values.find(variable);
        return it != values.end() ? strdup(it->second.c_str()) : nullptr;
    }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_var_subst") != 0) return object::get_interface(iface_name, pp_obj);
        *pp_obj = static_cast<vek::i_var_subst*>(this);
        return true;
    }
};

class StringProcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vek_test::quiet_trace();
        unsetenv("VEK_SP_UNSET");
        ASSERT_TRUE(vek_initialize());
        // `proc` holds the reference get_service hands out.
        ASSERT_NE(proc = vek_cast_i_string_proc(vek_core()->get_service("svc_string")), nullptr);
        globals = proc->get_global_var_substs();
    }
    void TearDown() override
    {
        vek_release(globals);
        vek_release(proc);
        vek_terminate();
        EXPECT_EQ(map_subst::live.load(), 0);
    }
    std::string run(const char* src, vek::i_var_subst* subst = nullptr)
    {
        std::unique_ptr<char, decltype(&std::free)> text(proc->process(src, subst), &std::free);
        return text != nullptr ? text.get() : "(null)";
    }

    vek::i_string_proc* proc = nullptr;
    vek::i_object_col_x* globals = nullptr;
    vek_test::env_guard env{"VEK_SP_X", "VEK_SP_UNSET"};
};

TEST_F(StringProcTest, ReferenceSyntaxAndStopRules)
{
    map_subst subst(vars{{"A", "val"}, {"A B", "spaced"}, {"V", "${A}$A"}, {"a", "low"}, {"", "empty"}});
    // A text without references comes back as a heap copy (run frees it).
    // A reference that cannot be read ends substitution, later ones stay;
    // values are inserted as they are; unset names give nothing.
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {{"no references", "no references"}, {nullptr, "(null)"},
        {"$A1", "val1"}, {"[$A$A]-$a-b", "[valval]-low-b"}, {"${A B}", "spaced"}, {"${A}}", "val}"},
        {"<${}>", "<empty>"}, {"a${VEK_SP_UNSET}b$VEK_SP_UNSET.c", "ab.c"}, {"$VEK_SP_UNSET", ""},
        {"$A $1 $A", "val $1 $A"}, {"$A ${A", "val ${A"}, {"x$", "x$"}, {"$-$A", "$-$A"}, {"[$V]", "[${A}$A]"}};
    // clang-format on
    for (const auto& [src, expected] : rows) EXPECT_EQ(run(src, &subst), expected) << (src ? src : "null");
}

// The call's substitutor comes first, then the global ones in order (items
// that do not answer for the interface are skipped), then the environment.
// The collection holds one reference to each item until terminate. A call
// works on a snapshot of the collection: `leaver` taking itself out during
// the call moves no other item under it, and stays alive until it ends.
TEST_F(StringProcTest, CallSubstitutorBeatsGlobalsBeatEnvironment)
{
    setenv("VEK_SP_X", "/srv/data", 1);
    auto* first = new map_subst(vars{{"VEK_SP_X", "global1"}});
    first->addref();
    auto* second = new map_subst(vars{{"VEK_SP_X", "global2"}, {"Y", "y2"}});
    auto* leaver = new map_subst(vars{}, globals);
    for (vek::i_object* item :
         std::initializer_list<vek::i_object*>{new vek_test::probe("plain"), leaver, first, second})
        globals->add_item(item);
    map_subst call(vars{{"VEK_SP_X", "call"}});

    EXPECT_EQ(run("$VEK_SP_X", &call), "call");
    EXPECT_EQ(first->asked + leaver->asked, 0);
    EXPECT_EQ(run("$VEK_SP_X/$Y"), "global1/y2");
    EXPECT_EQ(map_subst::live.load(), 3);  // `leaver` went with the call's snapshot
    EXPECT_EQ(count_of(first), 2);
    globals->remove_item(first);
    EXPECT_EQ(count_of(first), 1);
    EXPECT_EQ(run("$VEK_SP_X"), "global2");
    globals->remove_item(second);
    EXPECT_EQ(run("$VEK_SP_X"), "/srv/data");
    globals->add_item(first);
    first->release();
    EXPECT_EQ(map_subst::live.load(), 2);  // `call` and `first`: TearDown checks terminate frees them

    // Each call hands out one more reference to the same collection: the
    // service's, the fixture's and this one.
    auto_ptr_t<vek::i_object_col_x> again(proc->get_global_var_substs());
    EXPECT_TRUE(again == globals && count_of(globals) == 3);
}

}  // namespace
