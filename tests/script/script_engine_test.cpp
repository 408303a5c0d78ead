// The script engine on a real interpreter: wrapping, errors, output,
// registration and recycling.
#include "script/script_support.h"

namespace {

using vek_test::tcl_value;

// Tcl's memory goes back when the test program ends.
class tcl_finalizer : public ::testing::Environment {
public:
    void TearDown() override { Tcl_Finalize(); }
};
::testing::Environment* const g_tcl_env = ::testing::AddGlobalTestEnvironment(new tcl_finalizer);

class ScriptEngineTest : public vek_test::script_test {};

TEST_F(ScriptEngineTest, TextRunsInTheNamespaceInitCommandsGlobally)
{
    ASSERT_TRUE(svc->add_init_cmd("set from_init 1"));
    vek::i_script_engine* e = svc->get_script_engine();
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->execute_text("set x 5"));
    EXPECT_EQ(tcl_value(e, "[info exists ::vek::x][info exists ::x][info exists ::from_init]"), "101");
    vek::i_script_engine* again = svc->get_script_engine();
    EXPECT_EQ(again, e);
    again->release();
    e->release();
}

}  // namespace
