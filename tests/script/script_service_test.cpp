// The script service with real Tcl threads: one engine per thread, thread
// exit, init commands and files reaching every engine, failures.
#include "script/script_support.h"

namespace {

using vek_test::tcl_value;
using vek_test::worker;

class ScriptServiceTest : public vek_test::script_test {};

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

TEST_F(ScriptServiceTest, FourThreadsHoldTheirOwnEnginesAtOnce)
{
    worker w[4];
    vek::i_script_engine* engines[4] = {};
    for (int i = 0; i < 4; ++i) {
        w[i].start();
        w[i].run([&, i] {
            engines[i] = svc->get_script_engine();
            engines[i]->execute_text(("set ::who " + std::to_string(i)).c_str());
        });
    }
    for (int i = 0; i < 4; ++i) {
        w[i].run([&, i] {
            EXPECT_EQ(tcl_value(engines[i], "$::who"), std::to_string(i));
            EXPECT_EQ(svc->get_script_engine(), engines[i]);  // nested request: same engine
            engines[i]->release();
            engines[i]->release();
        });
        for (int j = 0; j < i; ++j) EXPECT_NE(engines[i], engines[j]);
    }
    for (auto& t : w) t.stop();                       // each exit handler destroys its engine
    ASSERT_TRUE(svc->add_init_cmd("set ::after 1"));  // walks the table: no freed engine in it
    EXPECT_EQ(run_in_engine(svc, "$::after"), "1");
}

TEST_F(ScriptServiceTest, IdleEnginesOfOtherThreadsAreRebuiltWithEachInitItemOnce)
{
    std::string file = write("init.tcl", "lappend ::order f");
    vek::i_script_engine* here = svc->get_script_engine();
    worker w;
    w.start();
    w.run([&] { EXPECT_EQ(run_in_engine(svc, "[set ::old 1]"), "1"); });
    ASSERT_TRUE(svc->add_init_cmd("lappend ::order a"));
    ASSERT_TRUE(svc->add_init_file(file.c_str()));
    ASSERT_TRUE(svc->add_init_cmd("lappend ::order b"));
    EXPECT_FALSE(svc->add_init_cmd(nullptr));
    EXPECT_EQ(tcl_value(here, "$::order"), "a f b");  // ran at once in the adding thread
    w.run([&] { EXPECT_EQ(run_in_engine(svc, "[info exists ::old]/$::order"), "0/a b f"); });
    // The adding thread's engine was marked stale too: rebuilt once idle.
    here->release();
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b f");
    EXPECT_EQ(run_in_engine(svc, "$::order"), "a b f f");  // reused: init files run again, not commands
}

TEST_F(ScriptServiceTest, ALastReleaseInAnotherThreadLeavesTheEngineStale)
{
    vek::i_script_engine* e = svc->get_script_engine();
    ASSERT_TRUE(e->execute_text("set ::mark 1"));
    worker w;
    w.start();
    w.run([&] { e->release(); });                                // back to the service's reference: no Tcl call there
    EXPECT_EQ(run_in_engine(svc, "[info exists ::mark]"), "0");  // rebuilt by its owner
}

TEST_F(ScriptServiceTest, EnginesStayConsistentWhileThreadsAddInitCommands)
{
    worker adders[2], users[4];
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    auto use = [&] {
        while (!stop) {
            vek::i_script_engine* e = svc->get_script_engine();
            if (e == nullptr || !e->execute_text("incr ::n 0")) ++failures;
            vek_release(e);
        }
    };
    for (auto& u : users) {
        u.start();
        u.post(use);
    }
    for (auto& a : adders) {
        a.start();
        a.run([&] {
            for (int i = 0; i < 20; ++i) svc->add_init_cmd("incr ::n");
        });
    }
    stop = true;
    for (auto& u : users) {
        u.wait();
        u.run([&] { EXPECT_EQ(run_in_engine(svc, "$::n"), "40"); });
    }
    EXPECT_EQ(failures, 0);
}

TEST_F(ScriptServiceTest, AFailingInitCommandLeavesUsableEnginesThatAreRebuilt)
{
    vek_enable_trace(true);
    vek_set_trace_facility("trace.txt");
    ASSERT_TRUE(svc->add_init_cmd("lappend ::order 1; error boom"));
    ASSERT_TRUE(svc->add_init_cmd("lappend ::order 2"));
    EXPECT_EQ(run_in_engine(svc, "$::order"), "1 2");
    EXPECT_EQ(run_in_engine(svc, "$::order"), "1 2");  // a fresh engine each time, each item once
    vek_set_trace_facility("stdout");
    EXPECT_NE(vek_test::read_text(root / "trace.txt").find("Script error on line 1: boom"), std::string::npos);
}

TEST_F(ScriptServiceTest, PoolThreadsMayHoldIdleEnginesAtTerminate)
{
    std::atomic<int> done{0};
    struct ctx {
        vek::i_script_service* svc;
        std::atomic<int>* done;
    } c{svc, &done};
    ctx* pc = &c;
    for (int i = 0; i < 3; ++i) {
        vek_bg_thread(
            [](bool run, void* args, unsigned int) {
                ctx* c = *static_cast<ctx**>(args);
                if (run && run_in_engine(c->svc, "ok") == "ok") ++*c->done;
            },
            &pc, sizeof pc);
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

}  // namespace
