// The script engine on a real interpreter: wrapping, errors, output,
// registration, recycling and thread ownership; the script files and code
// it runs: the per-engine cache, reloads, loaders and encrypted files.
#include "script/script_support.h"

namespace {

using vek_test::count_of;
using vek_test::ints;
using vek_test::lines;
using vek_test::tcl_value;

// Tcl's memory goes back when the test program ends.
struct tcl_finalizer : ::testing::Environment {
    void TearDown() override { Tcl_Finalize(); }
};
::testing::Environment* const g_tcl_env = ::testing::AddGlobalTestEnvironment(new tcl_finalizer);

class ScriptEngineTest : public vek_test::script_test {};

TEST_F(ScriptEngineTest, TextRunsInTheNamespaceAndAnErrorIsTracedWhole)
{
    take_engine();
    EXPECT_FALSE(e->execute_text(nullptr));
    EXPECT_TRUE(e->execute_text("set x 5; puts a; puts -nonewline x; puts {b c}"));
    EXPECT_STREQ(e->get_output(), "a-nonewlineb c");  // first argument only, no line ends
    EXPECT_EQ(tcl_value(e, "[info exists ::vek::x][info exists ::x]"), "10");
    // Sourced files run in the namespace too; a missing one is a 0.
    std::string inner = write("inner.tcl", "puts [namespace current]");
    EXPECT_EQ(tcl_value(e, "[source {" + inner + "}][source /no/such/file]"), "::vek10");

    // An empty result counts as success; `break` outside a loop is an error
    // with a message.
    EXPECT_EQ((ints{e->execute_text("error \"\""), e->execute_text("break")}), (ints{1, 0}));
    std::string long_msg(1000, 'm');
    EXPECT_FALSE(e->execute_text(("set a 1\n\nerror " + long_msg).c_str()));
    EXPECT_EQ(e->get_error(), long_msg);  // whole, however long
    EXPECT_EQ(e->get_error_line(), 1);    // Tcl counts inside the wrapping block
    // A trace line is cut at 1024 bytes, its time stamp and line end included.
    EXPECT_EQ(fresh(), (lines{"Script error on line 1: invoked \"break\" outside of a loop",
                              ("Script error on line 1: " + long_msg).substr(0, 1001)}));
    // The errors made the engine stale: once idle, the thread gets a new interpreter.
    e->execute_text("set ::marker 1");
    take_engine();
    EXPECT_EQ(tcl_value(e, "[info exists ::marker]"), "0");
}

TEST_F(ScriptEngineTest, RegisteredObjectsAreTheScriptsUntilTheEngineIsRecycled)
{
    take_engine();
    auto* p = new vek_test::probe("p");
    p->addref();
    EXPECT_TRUE(e->register_object(p, "plain", ""));
    ASSERT_TRUE(e->execute_text("$plain addref; $plain addref; proc helper {} {}; set v 1"));
    EXPECT_EQ(count_of(p), 4);  // the registration holds one for the script
    take_engine();              // the last user gave it back: recycled
    EXPECT_EQ(count_of(p), 1);
    // The namespace went; the prelude ran again.
    EXPECT_EQ(tcl_value(e, "[info exists v][llength [info procs helper]][info exists vek_script_engine]"), "001");

    EXPECT_FALSE(e->register_object(p, nullptr, ""));
    EXPECT_FALSE(e->register_object(p, "bad", "no_such_cast"));
    EXPECT_STREQ(e->get_error(), "invalid command name \"no_such_cast\"");
    take_engine();
    EXPECT_EQ(count_of(p), 1);  // every script reference given back
    p->release();
    EXPECT_EQ(vek_test::probe::live, 0);
}

TEST_F(ScriptEngineTest, ScriptCodeOutlivesAnEngineRebuildButOtherThreadsAreRefused)
{
    take_engine();
    EXPECT_EQ(vek_create_script_code(nullptr), nullptr);
    vek::i_script_code* code = vek_create_script_code("incr n");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(count_of(code), 1);
    EXPECT_EQ(code->get_thread_id(), vek_get_thread_id());
    EXPECT_EQ((ints{e->execute_code(code), e->execute_text("error stale")}), (ints{1, 0}));
    take_engine();  // a new interpreter
    EXPECT_EQ((ints{e->execute_code(code), code->set_text("incr n 5"), e->execute_code(code), code->set_text(nullptr)}),
              (ints{1, 1, 1, 0}));
    EXPECT_EQ(tcl_value(e, "$n"), "6");

    std::string file = write("f.tcl", "set f 1"), results;
    std::thread([&] {
        results = std::to_string(e->execute_text("set t 1")) + std::to_string(e->execute_file(file.c_str())) +
                  std::to_string(e->execute_code(code)) + std::to_string(e->register_object(e, "x", "")) +
                  e->get_error() + std::to_string(e->get_error_line()) +
                  std::to_string(code->get_compiled_code() == nullptr) + std::to_string(code->set_text("x"));
        code->release();  // its Tcl object is left, not freed here
    }).join();
    EXPECT_EQ(results, "0000010");
    EXPECT_EQ(fresh(), (lines{"Script error on line 1: stale", "script_code: leaking the code of thread " +
                                                                   std::to_string(vek_get_thread_id()) +
                                                                   ", released in another thread"}));
}

TEST_F(ScriptEngineTest, AFileIsReadOnceReloadedWhenItsTimeChangesEvenWhileRunningAndDecryptedUnderItsOwnName)
{
    take_engine();
    std::string path = write("a.tcl", "incr runs");
    std::pair<int, bool> loader{0, false};  // the loader's calls, and whether it fails
    vek::vek_script_file_load_function load = [](const char* file, const void* self) -> char* {
        auto* l = static_cast<std::pair<int, bool>*>(const_cast<void*>(self));
        ++l->first;
        return l->second ? nullptr : vek_read_file(file);
    };
    auto run = [&](const std::string& name) { return e->execute_file(name.c_str(), load, &loader); };
    EXPECT_EQ((ints{run("a.tcl"), run(path), loader.first}), (ints{1, 1, 1}));  // the first relative to the root
    write("a.tcl", "incr runs 10", 1000001);
    EXPECT_EQ((ints{run(path), loader.first}), (ints{1, 2}));
    EXPECT_EQ(tcl_value(e, "$runs"), "12");
    EXPECT_EQ(fresh(), lines{"script_code: reloading script from file '" + path + "'"});

    // Changed, then unreadable: the old code is gone, and the file is tried
    // again until its time matches the last good read, which finds no code.
    loader.second = true;
    EXPECT_EQ((ints{e->execute_file(nullptr), run("missing.tcl"), run(write("b.tcl", "set b 1")), loader.first}),
              (ints{0, 0, 0, 3}));
    write("a.tcl", "incr runs 10", 1000005);
    EXPECT_EQ((ints{run(path), run(path), loader.first}), (ints{0, 0, 5}));
    write("a.tcl", "incr runs 10", 1000001);
    EXPECT_EQ((ints{run(path), loader.first}), (ints{0, 5}));

    auto* f = new vek::script_file();
    f->addref();
    EXPECT_FALSE(f->load(nullptr, nullptr, nullptr) || f->load("", nullptr, nullptr));
    EXPECT_TRUE(f->load(path.c_str(), nullptr, nullptr));
    EXPECT_STREQ(f->get_path(), path.c_str());
    EXPECT_STREQ(Tcl_GetString(f->get_compiled_code()), "namespace eval vek {\nincr runs 10\n}");
    f->release();

    // A file sourcing itself ends without crashing; so does one that
    // changes its own time while running, so that the inner run replaces
    // the code the outer one is still running.
    std::string self = (root / "self.tcl").string(), p2 = (root / "reload.tcl").string();
    write("self.tcl", "incr depth\nsource {" + self + "}");
    EXPECT_TRUE(e->execute_file(self.c_str()));
    EXPECT_GT(std::stoi(tcl_value(e, "$depth")), 10);
    write("reload.tcl", "incr r\nif {$r < 3} {\n file mtime {" + p2 + "} [expr {[file mtime {" + p2 +
                            "}] + 1}]\n source {" + p2 + "}\n}\nincr after");
    EXPECT_TRUE(e->execute_file(p2.c_str()));
    EXPECT_EQ(tcl_value(e, "$r/$after"), "3/3");

    // An encrypted file reads only under its own name, with the encryptor.
    const std::string name = "encrypted_fixture.tcl", fixture = vek_test::read_text(VEK_SCRIPT_TEST_DATA "/" + name);
    EXPECT_TRUE(e->execute_file((VEK_SCRIPT_TEST_DATA "/" + name).c_str()));
    EXPECT_EQ(tcl_value(e, "$fixture"), "decrypted ok");
    // Under another name the key is another; bad text and a text shorter
    // than a block do not decrypt; nor does anything without the encryptor.
    const std::string bad[] = {fixture, "VEKENCF73\n!!!*", fixture.substr(0, 14)};
    for (const auto& text : bad)
        EXPECT_FALSE(e->execute_file(write(std::to_string(&text - bad) + ".tcl", text).c_str()));
    ASSERT_TRUE(vek_core()->unregister_service("svc_encrypt"));
    EXPECT_FALSE(e->execute_file(write(name, fixture).c_str()));
}

}  // namespace
