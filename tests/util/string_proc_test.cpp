#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

using vek_test::count_of;

namespace {

using vars = std::map<std::string, std::string>;

// A substitutor backed by a map; records the names it was asked for and
// counts its live instances. With `answers` false it implements the
// interface but does not answer for it by name.
class map_subst : public vek::object, public vek::i_var_subst {
public:
    static inline std::atomic<int> live{0};

    explicit map_subst(vars vals, bool answers = true) : m_values(std::move(vals)), m_answers(answers) { ++live; }
    ~map_subst() override { --live; }

    char* get_variable_value(const char* variable) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        asked.push_back(variable);
        auto it = m_values.find(variable);
        return it != m_values.end() ? strdup(it->second.c_str()) : nullptr;
    }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (!m_answers || std::strcmp(iface_name, "i_var_subst") != 0) return object::get_interface(iface_name, pp_obj);
        *pp_obj = static_cast<vek::i_var_subst*>(this);
        return true;
    }

    std::vector<std::string> asked;

private:
    vars m_values;
    bool m_answers;
    std::mutex m_mutex;
};

class StringProcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vek_test::quiet_trace();
        unsetenv("VEK_SP_UNSET");
        ASSERT_TRUE(vek_initialize());
        svc = vek_core()->get_service("svc_string");
        proc = vek_cast_i_string_proc(svc);
        ASSERT_NE(proc, nullptr);
        globals = proc->get_global_var_substs();
    }
    void TearDown() override
    {
        vek_release(globals);
        vek_release(svc);
        vek_terminate();
        EXPECT_EQ(map_subst::live.load(), 0);
    }

    std::string run(const char* src, vek::i_var_subst* subst = nullptr)
    {
        char* out = proc->process(src, subst);
        std::string result = out != nullptr ? out : "(null)";
        std::free(out);
        return result;
    }

    vek::i_object* svc = nullptr;
    vek::i_string_proc* proc = nullptr;
    vek::i_object_col_x* globals = nullptr;
    vek_test::env_guard env{"VEK_SP_X", "VEK_SP_UNSET"};
};

TEST_F(StringProcTest, ReferenceSyntaxAndStopRules)
{
    map_subst subst(vars{{"A", "val"}, {"A B", "spaced"}, {"V", "${A}$A"}, {"a", "low"}});

    const char* plain = "no references";
    char* copy = proc->process(plain, nullptr);
    EXPECT_STREQ(copy, plain);
    EXPECT_NE(copy, plain);
    std::free(copy);
    EXPECT_EQ(proc->process(nullptr, &subst), nullptr);

    EXPECT_EQ(run("$A1", &subst), "val1");
    EXPECT_EQ(run("[$A$A]-$a-b", &subst), "[valval]-low-b");
    EXPECT_EQ(run("${A B}", &subst), "spaced");
    EXPECT_EQ(run("${A}}", &subst), "val}");
    EXPECT_EQ(run("<${}>", &subst), "<>");
    EXPECT_EQ(subst.asked.back(), "");
    EXPECT_EQ(run("a${VEK_SP_UNSET}b$VEK_SP_UNSET.c", &subst), "ab.c");
    EXPECT_EQ(run("$VEK_SP_UNSET", &subst), "");  // a block, not null

    // A reference that cannot be read ends substitution, later ones stay.
    EXPECT_EQ(run("$A $1 $A", &subst), "val $1 $A");
    EXPECT_EQ(run("$A ${A", &subst), "val ${A");
    EXPECT_EQ(run("x$", &subst), "x$");
    EXPECT_EQ(run("$-$A", &subst), "$-$A");
    // Values are inserted as they are.
    EXPECT_EQ(run("[$V]", &subst), "[${A}$A]");
}

TEST_F(StringProcTest, CallSubstitutorBeatsGlobalsBeatEnvironment)
{
    setenv("VEK_SP_X", "env", 1);
    auto* first = new map_subst(vars{{"VEK_SP_X", "global1"}});
    auto* second = new map_subst(vars{{"VEK_SP_X", "global2"}, {"Y", "y2"}});
    auto* deaf = new map_subst(vars{{"VEK_SP_X", "ignored"}, {"Y", "ignored"}}, false);
    auto* plain = new vek_test::probe("plain");
    globals->add_item(deaf);
    globals->add_item(plain);
    globals->add_item(first);
    globals->add_item(second);
    map_subst call(vars{{"VEK_SP_X", "call"}});

    EXPECT_EQ(run("$VEK_SP_X", &call), "call");
    EXPECT_EQ(first->asked.size(), 0u);
    EXPECT_EQ(run("$VEK_SP_X/$Y"), "global1/y2");
    EXPECT_TRUE(deaf->asked.empty());
    globals->remove_item(first);
    EXPECT_EQ(run("$VEK_SP_X"), "global2");
    globals->remove_item(second);
    EXPECT_EQ(run("$VEK_SP_X", &call), "call");
    EXPECT_EQ(run("$VEK_SP_X"), "env");

    // Each call hands out one more reference to the same collection.
    int before = count_of(globals);
    vek::i_object_col_x* again = proc->get_global_var_substs();
    EXPECT_EQ(again, globals);
    EXPECT_EQ(count_of(globals), before + 1);
    again->release();
    EXPECT_STREQ(vek_cast_i_named_object(svc)->get_name(), "string_service");
}

TEST_F(StringProcTest, GlobalCollectionHoldsOneReferenceUntilTerminate)
{
    auto* kept = new map_subst(vars{{"K", "k"}});
    kept->addref();
    globals->add_item(kept);
    EXPECT_EQ(count_of(kept), 2);
    EXPECT_EQ(run("$K"), "k");
    EXPECT_EQ(count_of(kept), 2);  // the call's snapshot gave its reference back
    globals->remove_item(kept);
    EXPECT_EQ(count_of(kept), 1);
    globals->add_item(kept);
    kept->release();
    EXPECT_EQ(map_subst::live.load(), 1);
    // TearDown checks that terminating the library frees it.
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
            std::string expected = "global-" + std::to_string(t) + "-";
            for (int i = 0; i < 300; ++i) {
                if (run("$G-${T}-$VEK_SP_UNSET", &mine) != expected) ++wrong;
            }
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
    EXPECT_EQ(shared->asked.size(), 8u * 300u * 2u);  // G and VEK_SP_UNSET
}

TEST_F(StringProcTest, AbsolutePathsExpandThroughTheService)
{
    vek_test::env_guard root{"VEK_ROOT_PATH"};
    setenv("VEK_ROOT_PATH", "/app", 1);
    setenv("VEK_SP_X", "/srv/data", 1);
    for (auto [rel, expected] :
         {std::pair{"${VEK_SP_X}/../a/./b", "/srv/a/b"}, {"conf/$VEK_SP_UNSET/../x", "/app/conf/x"}}) {
        char* abs = vek_get_absolute_path(rel);
        EXPECT_STREQ(abs, expected);
        std::free(abs);
    }
}

}  // namespace
