#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support.h"

using vek_test::count_of;

namespace {

using vars = std::map<std::string, std::string>;

// A substitutor backed by a map; counts the names it was asked for and its
// live instances. With `answers` false it implements the interface but does
// not answer for it by name.
struct map_subst : vek::object, vek::i_var_subst {
    static inline std::atomic<int> live{0};
    vars values;
    bool answers;
    std::atomic<int> asked{0};

    explicit map_subst(vars vals, bool answers = true) : values(std::move(vals)), answers(answers) { ++live; }
    ~map_subst() override { --live; }
    char* get_variable_value(const char* variable) override
    {
        ++asked;
        auto it = values.find(variable);
        return it != values.end() ? strdup(it->second.c_str()) : nullptr;
    }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (!answers || std::strcmp(iface_name, "i_var_subst") != 0) return object::get_interface(iface_name, pp_obj);
        *pp_obj = static_cast<vek::i_var_subst*>(this);
        return true;
    }
};

std::string take(char* text)
{
    return text != nullptr ? std::unique_ptr<char, decltype(&std::free)>(text, &std::free).get() : "(null)";
}

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
    std::string run(const char* src, vek::i_var_subst* subst = nullptr) { return take(proc->process(src, subst)); }

    vek::i_string_proc* proc = nullptr;
    vek::i_object_col_x* globals = nullptr;
    vek_test::env_guard env{"VEK_SP_X", "VEK_SP_UNSET", "VEK_ROOT_PATH"};
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
// The collection holds one reference to each item until terminate, and a
// call's snapshot of it gives its references back.
TEST_F(StringProcTest, CallSubstitutorBeatsGlobalsBeatEnvironment)
{
    setenv("VEK_SP_X", "/srv/data", 1);
    auto* first = new map_subst(vars{{"VEK_SP_X", "global1"}});
    first->addref();
    auto* second = new map_subst(vars{{"VEK_SP_X", "global2"}, {"Y", "y2"}});
    auto* deaf = new map_subst(vars{{"VEK_SP_X", "ignored"}, {"Y", "ignored"}}, false);
    for (vek::i_object* item : std::initializer_list<vek::i_object*>{deaf, new vek_test::probe("plain"), first, second})
        globals->add_item(item);
    map_subst call(vars{{"VEK_SP_X", "call"}});

    EXPECT_EQ(run("$VEK_SP_X", &call), "call");
    EXPECT_EQ(first->asked, 0);
    EXPECT_EQ(run("$VEK_SP_X/$Y"), "global1/y2");
    EXPECT_EQ(deaf->asked, 0);
    EXPECT_EQ(count_of(first), 2);
    globals->remove_item(first);
    EXPECT_EQ(count_of(first), 1);
    EXPECT_EQ(run("$VEK_SP_X"), "global2");
    globals->remove_item(second);
    EXPECT_EQ(run("$VEK_SP_X", &call), "call");
    EXPECT_EQ(run("$VEK_SP_X"), "/srv/data");
    // Absolute paths expand through the service.
    setenv("VEK_ROOT_PATH", "/app", 1);
    EXPECT_EQ(take(vek_get_absolute_path("${VEK_SP_X}/../a/./b")), "/srv/a/b");
    EXPECT_EQ(take(vek_get_absolute_path("conf/$VEK_SP_UNSET/../x")), "/app/conf/x");
    globals->add_item(first);
    first->release();
    EXPECT_EQ(map_subst::live.load(), 3);  // `call`, `deaf` and `first`: TearDown checks terminate frees them

    // Each call hands out one more reference to the same collection.
    const int before = count_of(globals);
    auto_ptr_t<vek::i_object_col_x> again(proc->get_global_var_substs());
    EXPECT_TRUE(again == globals && count_of(globals) == before + 1);
    EXPECT_STREQ(vek_cast_i_named_object(proc)->get_name(), "string_service");
}

TEST_F(StringProcTest, ConcurrentCallsShareGlobalSubstitutors)
{
    auto* col = dynamic_cast<vek::object_col_x*>(globals);
    ASSERT_NE(col, nullptr);
    auto* shared = new map_subst(vars{{"G", "global"}});
    globals->add_item(shared);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([this, t, &wrong] {
            map_subst mine(vars{{"T", std::to_string(t)}});
            for (int i = 0; i < 300; ++i)
                wrong += run("$G-${T}-$VEK_SP_UNSET", &mine) != "global-" + std::to_string(t) + "-";
        });
    }
    // Substitutors put in front of it and taken out meanwhile hide it from
    // no call.
    for (int i = 0; i < 300; ++i) {
        auto* churn = new map_subst(vars{});
        col->insert_item(churn, 0);
        std::this_thread::yield();
        col->remove_item(churn);
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(shared->asked, 8 * 300 * 2);  // G and VEK_SP_UNSET
}

}  // namespace
