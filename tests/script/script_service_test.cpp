// The script service with real Tcl threads: one engine per thread, thread
// exit, init commands and files reaching every engine, failures; loaded
// modules' Tcl extensions and init scripts.
#include "script/script_support.h"

namespace {

using vek_test::ints;
using vek_test::lines;
using vek_test::tcl_value;
using vek_test::worker;

class ScriptServiceTest : public vek_test::script_test {
protected:
    // The init commands and files added since SetUp, as "cmd:" and "file:"
    // lines.
    lines added()
    {
        lines out;
        auto list = [&](vek::i_object_col* col, const char* kind, unsigned int from) {
            for (unsigned int i = from; i < col->get_count(); ++i) {
                vek::i_object* item = col->get_item_by_pos(i);
                out.push_back(kind + std::string(vek_cast_i_string(item)->get_value()));
                item->release();
            }
        };
        list(vek_cast_script_service(svc)->init_cmds(), "cmd:", 1);  // the first is the library's own
        list(vek_cast_script_service(svc)->init_files(), "file:", 0);
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

TEST_F(ScriptServiceTest, InitItemsReachEveryEngineOnceAndStaleEnginesAreRebuilt)
{
    std::string file = write("init.tcl", "lappend ::order f");
    vek::i_script_engine* here = svc->get_script_engine();
    worker w;
    w.run([&] { EXPECT_EQ(run_in_engine(svc, "[set ::old 1]"), "1"); });
    EXPECT_EQ((ints{svc->add_init_cmd("lappend ::order a"), svc->add_init_file(file.c_str()),
                    svc->add_init_cmd("lappend ::order b"), svc->add_init_cmd(nullptr)}),
              (ints{1, 1, 1, 0}));
    EXPECT_EQ(tcl_value(here, "$::order"), "a f b");  // ran at once in the adding thread
    w.run([&] { EXPECT_EQ(run_in_engine(svc, "[info exists ::old]/$::order"), "0/a b f"); });
    // The adding thread's engine was marked stale too: rebuilt once idle.
    here->release();
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b f");
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b f f");  // reused: init files run again, not commands

    // A last release in another thread makes no Tcl call there: the owner
    // rebuilds the engine.
    here = svc->get_script_engine();
    ASSERT_TRUE(here->execute_text("set ::mark 1"));
    w.run([&] { here->release(); });
    EXPECT_EQ(run_in_engine(svc, "[info exists ::mark]"), "0");

    // A failing init command leaves usable engines that are rebuilt each
    // time (the failure makes them stale), with each item run once.
    ASSERT_TRUE(svc->add_init_cmd("lappend ::order x; error boom"));  // fails at once here too
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b x f");
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b x f");
    EXPECT_EQ(traced("Script error on line 1: boom"), 3);
}

TEST_F(ScriptServiceTest, EnginesStayConsistentWhileAnotherThreadAddsInitCommands)
{
    worker users[4];
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    auto use = [&] {
        while (!stop) {
            vek::i_script_engine* e = svc->get_script_engine();
            if (e == nullptr || !e->execute_text("incr ::n 0")) ++failures;
            vek_release(e);
        }
    };
    for (auto& u : users) u.run(use, false);
    for (int i = 0; i < 40; ++i) svc->add_init_cmd("incr ::n");
    stop = true;
    for (auto& u : users) u.run([&] { EXPECT_EQ(run_in_engine(svc, "$::n"), "40"); });
    EXPECT_EQ(failures, 0);
}

TEST_F(ScriptServiceTest, PoolThreadsMayHoldIdleEnginesAtTerminate)
{
    static std::atomic<int> done;
    done = 0;
    for (int i = 0; i < 3; ++i) {
        vek_bg_thread(
            [](bool run, void* args, unsigned int) {
                if (run && run_in_engine(*static_cast<vek::i_script_service**>(args), "ok") == "ok") ++done;
            },
            &svc, sizeof svc);
    }
    ASSERT_TRUE(vek_test::wait_for([&] { return done == 3; }));
    // TearDown terminates while the pool threads keep their idle engines.
}

TEST(ScriptServiceEntryTest, WithoutThePackageThePreludeFailsAndTheNextCallRetries)
{
    vek_test::env_guard env{"VEK_ROOT_PATH"};
    setenv("VEK_ROOT_PATH", "/tmp", 1);
    vek_test::quiet_trace();
    ASSERT_TRUE(vek_initialize());
    vek_library_entry();  // the services, but no Tcl package in the engines
    vek::i_object* obj = vek_core()->get_service("svc_script");
    vek::i_script_service* svc = vek_cast_i_script_service(obj);
    ASSERT_NE(svc, nullptr);
    EXPECT_NE(vek_cast_script_service(obj), nullptr);
    EXPECT_EQ(svc->get_script_engine(), nullptr);
    EXPECT_EQ(svc->get_script_engine(), nullptr);
    ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);  // adds the package's load command
    EXPECT_EQ(run_in_engine(svc, "[package present vek_core]"), "0.0");
    obj->release();
    vek_terminate();
}

// Net_Io's init function is found from its name; its init file in
// NET_IO_SCRIPT_PATH, else in VEK_SCRIPT_PATH.
TEST_F(ScriptServiceTest, ModulesAddTheirLoadCommandAndTheFirstInitFileFound)
{
    const std::string own = write("own/net_io_init.tcl", "set ::from own");
    const std::string common = write("common/net_io_init.tcl", "set ::from common");
    setenv("NET_IO_SCRIPT_PATH", (root / "own").c_str(), 1);
    setenv("VEK_SCRIPT_PATH", (root / "common").c_str(), 1);
    ASSERT_NE(vek_core()->load_library(module("mod_net_io").c_str()), nullptr);
    EXPECT_EQ(added(), (lines{"cmd:load \"" + module("mod_net_io") + "\" \"net_io\"", "file:" + own}));
    EXPECT_EQ(run_in_engine(svc, "$::net_io_loaded/$::from"), "1/own");

    // Without a name (or with one too long) nothing is added.
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_anon").c_str()), nullptr);
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_long").c_str()), nullptr);
    EXPECT_EQ(traced("script_service: library name too long (300 bytes), no scripts added"), 1);
    // Without an init function there is no load command.
    unsetenv("NET_IO_SCRIPT_PATH");
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_no_init").c_str()), nullptr);
    EXPECT_EQ(added(),
              (lines{"cmd:load \"" + module("mod_net_io") + "\" \"net_io\"", "file:" + own, "file:" + common}));
}

TEST_F(ScriptServiceTest, OddDirectoryAndFileNamesAreQuotedForTcl)
{
    std::string odd = (root / "a b\\c $d [e]").string();
    std::filesystem::create_directories(odd);
    std::filesystem::copy_file(module("mod_net_io"), odd + "/NetIO2.so");  // Tcl alone would look for Netio_Init
    setenv("PATH", odd.c_str(), 1);  // found through PATH, where the name stays as written
    ASSERT_NE(vek_core()->load_library("NetIO2.so"), nullptr);
    EXPECT_EQ(added(), lines{"cmd:load \"" + root.string() + "/a b\\\\c \\$d \\[e\\]/NetIO2.so\" \"net_io\""});
    EXPECT_EQ(run_in_engine(svc, "$::net_io_loaded"), "1");
}

}  // namespace
