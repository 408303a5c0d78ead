// The script engine on a real interpreter: wrapping, errors, output,
// registration, recycling and thread ownership.
#include "script/script_support.h"

namespace {

using vek_test::count_of;
using vek_test::tcl_value;

// Tcl's memory goes back when the test program ends.
class tcl_finalizer : public ::testing::Environment {
public:
    void TearDown() override { Tcl_Finalize(); }
};
::testing::Environment* const g_tcl_env = ::testing::AddGlobalTestEnvironment(new tcl_finalizer);

class ScriptEngineTest : public vek_test::engine_test {};

TEST_F(ScriptEngineTest, TextRunsInTheNamespaceInitCommandsGlobally)
{
    ASSERT_TRUE(svc->add_init_cmd("set from_init 1"));  // runs at once here
    EXPECT_TRUE(e->execute_text("set x 5"));
    EXPECT_EQ(tcl_value(e, "[info exists ::vek::x][info exists ::x][info exists ::from_init]"), "101");
    vek::i_script_engine* again = svc->get_script_engine();
    EXPECT_EQ(again, e);  // nested requests share the engine
    again->release();
    EXPECT_EQ(vek_cast_i_script_engine(e), e);
    EXPECT_FALSE(e->execute_text(nullptr));
    EXPECT_FALSE(e->execute_code(nullptr));
}

TEST_F(ScriptEngineTest, ErrorsAreLoggedMakeTheEngineStaleAndKeepTheirWholeMessage)
{
    vek_enable_trace(true);
    vek_set_trace_facility("trace.txt");
    EXPECT_TRUE(e->execute_text("error \"\""));  // an empty result counts as success
    EXPECT_FALSE(e->execute_text("break"));      // outside a loop: an error with a message
    std::string long_msg(1000, 'm');
    EXPECT_FALSE(e->execute_text(("set a 1\n\nerror " + long_msg).c_str()));
    EXPECT_EQ(e->get_error(), long_msg);  // whole, however long
    EXPECT_EQ(e->get_error_line(), 1);    // Tcl counts inside the wrapping block
    vek_set_trace_facility("stdout");
    std::string trace = vek_test::read_text(root / "trace.txt");
    EXPECT_NE(trace.find(": Script error on line 1: invoked \"break\" outside of a loop\n"), std::string::npos)
        << trace;
    EXPECT_NE(trace.find("Script error on line 1: mmm"), std::string::npos);

    // Stale: once idle, the thread gets a new interpreter.
    e->execute_text("set ::marker 1");
    e->release();
    e = svc->get_script_engine();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(tcl_value(e, "[info exists ::marker]"), "0");
}

TEST_F(ScriptEngineTest, PutsAndSourceGoThroughTheEngine)
{
    EXPECT_TRUE(e->execute_text("puts a; puts -nonewline x; puts {b c}"));
    EXPECT_STREQ(e->get_output(), "a-nonewlineb c");  // first argument only, no line ends
    e->reset();
    EXPECT_STREQ(e->get_output(), "");
    std::string inner = write("inner.tcl", "puts [namespace current]");
    EXPECT_TRUE(e->execute_text(("source {" + inner + "}").c_str()));
    EXPECT_STREQ(e->get_output(), "::vek");
    e->reset();
    EXPECT_TRUE(e->execute_text("puts [source /no/such/file]"));
    EXPECT_STREQ(e->get_output(), "0");
}

TEST_F(ScriptEngineTest, RegisterObjectSetsANamespaceVariableWithOrWithoutACast)
{
    vek::i_string* s = vek_create_string("hello");
    EXPECT_TRUE(e->register_object(s, "plain", ""));
    EXPECT_TRUE(e->register_object(s, "cast", "vek_cast_i_string"));
    EXPECT_TRUE(e->register_object(s, "nocast", nullptr));
    EXPECT_EQ(count_of(s), 4);  // each registration holds one for the script
    std::string plain = tcl_value(e, "$plain"), cast = tcl_value(e, "$cast");
    EXPECT_EQ(tcl_value(e, "[$plain cget -this]"), plain);
    EXPECT_EQ(plain.size(), 1 + 16 + std::strlen("_p_vek__i_object"));
    EXPECT_EQ(plain.substr(17), "_p_vek__i_object");
    EXPECT_EQ(cast.substr(17), "_p_vek__i_string");
    EXPECT_EQ(tcl_value(e, "[$cast get_value]"), "hello");
    EXPECT_EQ(tcl_value(e, "[$plain get_value]").substr(0, 15), "<error>");
    EXPECT_NE(std::string(e->get_error()).find("Invalid method. Must be one of: configure cget get_interface addref release"),
              std::string::npos);
    e->release();  // recycle (count back to the service's 1)
    e = svc->get_script_engine();

    EXPECT_FALSE(e->register_object(s, "bad", "no_such_cast"));
    EXPECT_NE(std::string(e->get_error()).find("no_such_cast"), std::string::npos);
    EXPECT_FALSE(e->register_object(s, nullptr, ""));
    EXPECT_TRUE(e->register_object(s, "two words", ""));  // `variable two words ...`: sets two
    EXPECT_EQ(tcl_value(e, "$two"), "words");
    EXPECT_EQ(e->get_registration_object(), nullptr);  // only during the call
    e->release();
    e = svc->get_script_engine();
    EXPECT_EQ(count_of(s), 1);  // every script reference given back
    s->release();
}

TEST_F(ScriptEngineTest, RecyclingRemovesTheNamespaceAndGivesBackScriptReferences)
{
    auto* p = new vek_test::probe("p");
    p->addref();
    ASSERT_TRUE(e->register_object(p, "obj", ""));
    ASSERT_TRUE(e->execute_text("$obj addref; $obj addref; proc helper {} {}; set v 1"));
    EXPECT_EQ(count_of(p), 4);
    std::string handle = tcl_value(e, "$obj");
    e->release();  // the last user: recycled
    e = svc->get_script_engine();
    EXPECT_EQ(count_of(p), 1);
    EXPECT_EQ(tcl_value(e, "[info exists v][llength [info procs helper]]"), "00");
    EXPECT_EQ(tcl_value(e, "[llength [info commands " + handle + "]]"), "0");
    EXPECT_EQ(tcl_value(e, "[info exists vek_script_engine]"), "1");  // the prelude ran again

    // A handle the engine no longer knows is refused instead of reached.
    EXPECT_FALSE(e->execute_text(("i_object_addref " + handle).c_str()));
    EXPECT_STREQ(e->get_error(), "TypeError in method 'i_object_addref', argument 1 of type 'vek::i_object *'");
    EXPECT_EQ(count_of(p), 1);
    p->release();
    EXPECT_EQ(vek_test::probe::live, 0);
}

TEST_F(ScriptEngineTest, ReleasingToZeroInAScriptDeletesTheObjectCommand)
{
    vek::i_string* s = vek_create_string("x");
    ASSERT_TRUE(e->register_object(s, "s", "vek_cast_i_string"));
    std::string h = tcl_value(e, "$s");
    EXPECT_EQ(tcl_value(e, "[$s release]/[llength [info commands " + h + "]]"), "0/0");
    EXPECT_EQ(count_of(s), 1);
    EXPECT_EQ(tcl_value(e, "[i_string_get_value " + h + "]"), "<error>");
    EXPECT_EQ(tcl_value(e, "[vek_cast_i_string NULL]/[_vek_get_script_engine 0x10]"), "NULL/NULL");
    EXPECT_FALSE(e->execute_text("[vek_cast_i_string NULL] get_value"));
    EXPECT_STREQ(e->get_error(), "Invalid operation over 'NULL' object ");
    EXPECT_FALSE(e->execute_text("i_string_get_value"));
    EXPECT_STREQ(e->get_error(), "Wrong number of arguments :i_string_get_value self  argument 1");
    EXPECT_FALSE(e->execute_text("_vek_get_script_engine 1 2"));
    EXPECT_STREQ(e->get_error(), "Wrong # args.:_vek_get_script_engine addr  argument 2");
    s->release();
}

TEST_F(ScriptEngineTest, OtherThreadsAreRefused)
{
    std::string file = write("f.tcl", "set f 1");
    vek::i_script_code* code = vek_create_script_code("set c 1");
    EXPECT_TRUE(e->execute_code(code));
    EXPECT_EQ(tcl_value(e, "$c"), "1");
    vek_enable_trace(true);
    vek_set_trace_facility("trace.txt");
    std::atomic<int> done{0};
    std::string results;
    struct ctx {
        vek::i_script_engine* e;
        vek::i_script_code* code;
        std::string file;
        std::string* results;
        std::atomic<int>* done;
    } c{e, code, file, &results, &done};
    ctx* pc = &c;
    vek_bg_thread(
        [](bool run, void* args, unsigned int) {
            ctx* c = *static_cast<ctx**>(args);
            if (run) {
                *c->results =
                    std::to_string(c->e->execute_text("set t 1")) +
                    std::to_string(c->e->execute_file(c->file.c_str())) + std::to_string(c->e->execute_code(c->code)) +
                    std::to_string(c->e->register_object(c->e, "x", "")) + c->e->get_error() +
                    std::to_string(c->e->get_error_line()) + std::to_string(c->code->get_compiled_code() == nullptr) +
                    std::to_string(c->code->set_text("x"));
                c->code->release();  // its Tcl object is left, not freed here
            }
            ++*c->done;
        },
        &pc, sizeof pc);
    ASSERT_TRUE(vek_test::wait_for([&] { return done == 1; }));
    EXPECT_EQ(results, "0000010");
    vek_set_trace_facility("stdout");
    EXPECT_NE(vek_test::read_text(root / "trace.txt")
                  .find("script_code: leaking the code of thread " + std::to_string(vek_get_thread_id())),
              std::string::npos);
}

}  // namespace
