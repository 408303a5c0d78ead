// The script service with real Tcl threads: one engine per thread, thread
// exit, init commands and files reaching every engine, failures; loaded
// modules' Tcl extensions and init scripts.
#include <algorithm>

#include "script/script_support.h"

namespace {

using vek_test::ints;
using vek_test::lines;
using vek_test::tcl_value;

class ScriptServiceTest : public vek_test::script_test {
protected:
    // The init commands (after the library's own) and files added since
    // SetUp.
    lines added()
    {
        lines out;
        vek::script_service* s = vek_cast_script_service(svc);
        for (vek::i_object_col* col : {s->init_cmds(), s->init_files()})
            for (unsigned int i = col == s->init_cmds() ? 1 : 0; i < col->get_count(); ++i)
                out.push_back(vek_cast_i_string(auto_ptr_t<vek::i_object>(col->get_item_by_pos(i)))->get_value());
        return out;
    }
    static std::string module(const char* name) { return std::string(VEK_TEST_MODULE_DIR "/") + name + ".so"; }
};

// Runs `text` in the calling thread's engine and gives back what it printed
// (or "<null>" without an engine).
std::string run_in_engine(vek::i_script_service* svc, const std::string& text)
{
    vek::i_script_engine* e = svc->get_script_engine();
    if (e == nullptr) return "<null>";
    std::string out = tcl_value(e, text);
    e->release();
    return out;
}

// That other threads' engines are marked stale and run every item once
// when rebuilt is pinned by the pool threads' case below.
TEST_F(ScriptServiceTest, InitItemsReachEveryEngineOnceAndStaleEnginesAreRebuilt)
{
    std::string file = write("init.tcl", "lappend ::order f");
    vek::i_script_engine* here = svc->get_script_engine();
    EXPECT_EQ((ints{svc->add_init_cmd("lappend ::order a"), svc->add_init_file(file.c_str()),
                    svc->add_init_cmd("lappend ::order b"), svc->add_init_cmd(nullptr)}),
              (ints{1, 1, 1, 0}));
    // The adding thread's engine ran them at once (pinned by the Tcl
    // package's i_script_service-2.1) and is marked stale too: rebuilt once
    // idle, commands first.
    here->release();
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b f");
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b f f");  // reused: init files run again, not commands

    // A last release in another thread makes no Tcl call there: the owner
    // rebuilds the engine.
    here = svc->get_script_engine();
    ASSERT_TRUE(here->execute_text("set ::mark 1"));
    std::thread([&] { here->release(); }).join();
    EXPECT_EQ(run_in_engine(svc, "[info exists ::mark]"), "0");

    // A failing init command leaves usable engines that are rebuilt each
    // time (the failure makes them stale), with each item run once.
    ASSERT_TRUE(svc->add_init_cmd("lappend ::order x; error boom"));  // fails at once here too
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b x f");
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b x f");
    EXPECT_EQ(fresh(), lines(3, "Script error on line 1: boom"));
}

// One round of a pool thread: a script that makes, links, casts and
// releases objects and prints how many object commands it left behind.
const char k_round[] = R"([set before [llength [info commands _*]]; incr ::n 0
    set c [vek_create_col]; set s [vek_create_string v]; $c add_item $s; set i [$c get_item_by_pos 0]
    if {[[vek_cast_i_string $i] get_value] ne "v"} { error cast }; i_object_release $i; vek_release $s
    [vek_cast_i_object_col_x [vek_cast_i_object_col $c]] release; expr {[llength [info commands _*]] - $before}])";

// Pool threads get, use and give back engines while init commands are
// added: no round fails, and each engine runs every command once. TearDown
// then terminates while the pool threads keep their idle engines.
TEST_F(ScriptServiceTest, PoolThreadsUseEnginesWhileInitCommandsAreAddedAndHoldThemAtTerminate)
{
    static std::atomic<bool> stop;
    static std::atomic<int> rounds, failures, done;
    stop = false;
    rounds = failures = done = 0;
    for (int i = 0; i < 4; ++i) {
        vek_bg_thread(
            [](bool run, void* args, unsigned int) {
                auto* svc = *static_cast<vek::i_script_service**>(args);
                for (; run && !stop; ++rounds) {
                    vek::i_script_engine* e = svc->get_script_engine();
                    if (e == nullptr || tcl_value(e, k_round) != "0") ++failures;
                    vek_release(e);
                }
                if (run && run_in_engine(svc, "$::n") == "40") ++done;
            },
            &svc, sizeof svc);
    }
    EXPECT_TRUE(vek_test::wait_for([&] { return rounds >= 8; }, 60000));  // the commands come while engines are in use
    for (int i = 0; i < 40; ++i) svc->add_init_cmd("incr ::n");
    stop = true;
    EXPECT_TRUE(vek_test::wait_for([&] { return done == 4; }, 60000));
    EXPECT_EQ(failures, 0);
}

class ScriptServiceEntryTest : public vek_test::entered_library_test {};

TEST_F(ScriptServiceEntryTest, WithoutThePackageThePreludeFailsAndTheNextCallRetries)
{
    vek::i_object* obj = vek_core()->get_service("svc_script");  // the services, but no Tcl package in the engines
    vek::i_script_service* svc = vek_cast_i_script_service(obj);
    ASSERT_NE(svc, nullptr);
    EXPECT_EQ(svc->get_script_engine(), nullptr);
    EXPECT_EQ(svc->get_script_engine(), nullptr);
    ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);  // adds the package's load command
    EXPECT_EQ(run_in_engine(svc, "[package present vek_core]"), "3.18.0152");
    obj->release();
}

// Net_Io's init function is found from its library name, not its file
// name; its init file in NET_IO_SCRIPT_PATH, else in VEK_SCRIPT_PATH. A
// library found through PATH keeps its name as written, quoted for Tcl.
TEST_F(ScriptServiceTest, ModulesAddTheirQuotedLoadCommandAndTheFirstInitFileFound)
{
    const std::string own = write("own/net_io_init.tcl", "set ::from own");
    const std::string common = write("common/net_io_init.tcl", "set ::from common");
    const std::string odd = (root / "a b\\c $d [e]").string();
    std::filesystem::create_directories(odd);
    std::filesystem::copy_file(module("mod_net_io"), odd + "/NetIO2.so");  // Tcl alone would look for Netio_Init
    setenv("NET_IO_SCRIPT_PATH", (root / "own").c_str(), 1);
    setenv("VEK_SCRIPT_PATH", (root / "common").c_str(), 1);
    setenv("PATH", odd.c_str(), 1);
    ASSERT_NE(vek_core()->load_library("NetIO2.so"), nullptr);
    const std::string cmd = "load \"" + root.string() + "/a b\\\\c \\$d \\[e\\]/NetIO2.so\" \"net_io\"";
    EXPECT_EQ(added(), (lines{cmd, own}));
    EXPECT_EQ(run_in_engine(svc, "$::net_io_loaded/$::from"), "1/own");

    // Without a name (or with one too long) nothing is added.
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_anon").c_str()), nullptr);
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_long").c_str()), nullptr);
    const std::string too_long = "script_service: library name too long (300 bytes), no scripts added";
    const lines trace = fresh();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), too_long), 1);
    // Without an init function there is no load command.
    unsetenv("NET_IO_SCRIPT_PATH");
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_no_init").c_str()), nullptr);
    EXPECT_EQ(added(), (lines{cmd, own, common}));
}

}  // namespace
