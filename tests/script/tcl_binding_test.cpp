// The Tcl package's runtime: the tracking hooks, object handles in an
// engine, handles across threads, the shared type table and the entry
// points.
#include <regex>

#include "script/script_support.h"

namespace {

using vek_test::count_of;
using vek_test::ints;
using vek_test::probe;
using vek_test::tcl_value;
using vek_test::worker;

// Stands for `target` before scripts (or for nothing when it is null);
// made with its creator's reference.
class stand_in : public vek::object, public vek::i_script_object_subsitutor {
public:
    static inline std::atomic<int> live{0};
    explicit stand_in(vek::i_object* target) : target(target)
    {
        ++live;
        addref();
    }
    ~stand_in() override { --live; }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_script_object_subsitutor") != 0)
            return object::get_interface(iface_name, pp_obj);
        *pp_obj = static_cast<vek::i_script_object_subsitutor*>(this);
        return true;
    }
    vek::i_object* get_object_pointer() override
    {
        ++asked;
        if (target != nullptr) target->addref();
        return target;
    }
    vek::i_object* const target;
    std::atomic<int> asked{0};
};

// The interpreter of the last `load {} Vekgrab`: how a test reaches the
// engine's own interpreter to make commands in it.
Tcl_Interp* g_grabbed = nullptr;

int grab(Tcl_Interp* interp)
{
    g_grabbed = interp;
    return TCL_OK;
}

Tcl_Interp* engine_interp(vek::i_script_engine* e)
{
    static const bool registered = (Tcl_StaticPackage(nullptr, "Vekgrab", grab, grab), true);
    g_grabbed = nullptr;
    return registered && e->execute_text("load {} Vekgrab") ? g_grabbed : nullptr;
}

class TclBindingTest : public vek_test::script_test {};

TEST_F(TclBindingTest, HooksTrackTheObjectAStandInNamesAndGiveItsReferenceBack)
{
    take_engine();
    auto* target = new probe("t");
    target->addref();
    auto* sub = new stand_in(target);
    auto* none = new stand_in(nullptr);
    Tcl_Interp* interp = engine_interp(e);
    ASSERT_NE(interp, nullptr);
    auto make = [&](const char* name) {
        return Tcl_CreateObjCommand(
            interp, name, [](ClientData, Tcl_Interp*, int, Tcl_Obj* const*) { return TCL_OK; }, nullptr, nullptr);
    };
    // After a hook's `result`: the counts of the target and the stand-in
    // (which is never counted), whether each is tracked, and whether
    // command `cmd` exists.
    auto state = [&](const char* cmd, int result) {
        const int exists = std::stoi(tcl_value(e, std::string("[llength [info commands ") + cmd + "]]"));
        return ints{result, count_of(target), count_of(sub), vek_tcl_test_object(target), vek_tcl_test_object(sub),
                    exists};
    };

    // Everything goes to the target: its count, its script count and the
    // command registered through the stand-in, which goes at script count 0.
    vek_tcl_register_object(sub, make("bound"));
    EXPECT_EQ(state("bound", 0), (ints{0, 1, 1, 0, 0, 1}));
    EXPECT_GE(vek_tcl_addref(sub, true), 2);                                           // the target's addref result
    EXPECT_EQ(state("bound", vek_tcl_addref(sub, false)), (ints{0, 2, 1, 1, 1, 1}));   // the stand-in's given back
    EXPECT_EQ(state("bound", vek_tcl_release(sub, false)), (ints{0, 2, 1, 1, 1, 1}));  // one script count left
    EXPECT_EQ(state("bound", vek_release_script_object(sub)), (ints{0, 1, 1, 0, 0, 0}));
    EXPECT_EQ(state("bound", vek_tcl_release(target, true)), (ints{0, 1, 1, 0, 0, 0}));  // unknown: none given back

    // A cast binds its command to the target without a count.
    vek_tcl_addref(target, true);
    vek_tcl_register_object(sub, make("cast"));
    vek_tcl_register_cast(none);
    vek_tcl_register_cast(sub);
    EXPECT_EQ(state("cast", 0), (ints{0, 2, 1, 1, 1, 1}));
    EXPECT_EQ(state("cast", vek_tcl_release(target, true)), (ints{0, 1, 1, 0, 0, 0}));

    // A stand-in for nothing ends every hook.
    vek_tcl_register_object(none, make("kept"));
    EXPECT_EQ((ints{vek_tcl_addref(none, true), vek_tcl_test_object(none), vek_tcl_release(none, true)}),
              (ints{0, 0, 0}));
    vek_tcl_addref(target, true);  // no pending command to bind
    EXPECT_EQ(state("kept", vek_tcl_release(target, true)), (ints{0, 1, 1, 0, 0, 1}));
    EXPECT_EQ(count_of(none), 1);
    EXPECT_GT(none->asked, 0);

    // Commands made only as a handle (the core's, the engine's own) are
    // never counted; the next object a script counts must not take them
    // over.
    ASSERT_TRUE(e->register_object(target, "h", ""));
    EXPECT_TRUE(e->execute_text("set core [vek_core]; $h addref; $h release; $h release; $core get_libraries"))
        << e->get_error();
    EXPECT_EQ(count_of(target), 1);

    // A thread without an engine: nothing is counted, and the test answers
    // only for an object a binding handed out, without asking it.
    worker w;
    int asked = sub->asked;
    w.run([&] {
        EXPECT_EQ((ints{vek_tcl_addref(sub, true), vek_tcl_addref(target, false), vek_tcl_release(target, true),
                        vek_release_script_object(sub), vek_tcl_test_object(sub)}),
                  (ints{0, 0, 0, 0, 0}));
        vek_tcl_register_object(sub, nullptr);
        vek_tcl_register_cast(sub);
        EXPECT_TRUE(vek_tcl_test_object(sub));
        EXPECT_EQ(_vek_get_script_engine(reinterpret_cast<long>(dynamic_cast<void*>(e))), nullptr);
    });
    w.stop();
    EXPECT_EQ(sub->asked, asked);
    EXPECT_EQ(count_of(target), 1);
    EXPECT_FALSE(vek_tcl_test_object(target));
    sub->release();
    none->release();
    target->release();
    EXPECT_EQ((ints{stand_in::live, probe::live}), (ints{0, 0}));
}

// Collections and strings made, linked, cast and released by a script;
// sets `leftover` to the object commands the rounds left behind.
const char k_rounds[] = R"(set before [llength [info commands _*]]
for {set i 0} {$i < 1000} {incr i} {
    set c [vek_create_col]; set s [vek_create_string v$i]; $c add_item $s; $c add_item $p
    set item [$c get_item_by_pos 0]; if {[[vek_cast_i_string $item] get_value] ne "v$i"} { error "round $i" }
    i_object_release $item; vek_release $s; [vek_cast_i_object_col_x [vek_cast_i_object_col $c]] release
}
set leftover [expr {[llength [info commands _*]] - $before}])";

// A handle the package did not hand out (here, or in another engine), or
// not as the type it names, or one of a released object is a TypeError,
// never a read, in an engine and in a plain interpreter alike; a derived
// handle still serves its bases.
TEST_F(TclBindingTest, FourThreadsRunTheirOwnEnginesAndRefuseForgedRelabelledAndStaleHandles)
{
    auto* p = new probe("shared");
    p->addref();
    worker w[4];
    vek::i_script_engine* engines[4] = {};
    for (int i = 0; i < 4; ++i) {
        w[i].run(
            [&, i] {
                ASSERT_NE(engines[i] = svc->get_script_engine(), nullptr);
                EXPECT_EQ(svc->get_script_engine(), engines[i]);  // nested request: same engine
                engines[i]->release();
                ASSERT_TRUE(engines[i]->register_object(p, "p", ""));
                EXPECT_TRUE(engines[i]->execute_text(k_rounds)) << engines[i]->get_error();
                EXPECT_EQ(tcl_value(engines[i], "$leftover/$i"), "0/1000");
            },
            false);
    }
    for (auto& t : w) t.wait();
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < i; ++j) EXPECT_NE(engines[i], engines[j]);
    EXPECT_EQ(count_of(p), 5);  // one registration per engine, nothing else

    std::string kept;
    w[0].run([&] { kept = tcl_value(engines[0], "[set ::kept [vek_create_string a]]"); });
    // Each script fails on argument 1 of its command, typed as given.
    const std::string cases[][2] = {
        {"i_binary_get_data_size [string map {i_string i_binary} $s]", "i_binary"},
        {"i_string_get_value [string map {i_named_string i_string} $n]", "i_string"},
        {"i_string_get_value [string map {i_core i_string} [vek_core]]", "i_string"},
        {"i_string_get_value _0100000000000000_p_vek__i_string", "i_string"},
        {"i_string_get_value $t", "i_string"},  // released
        {"i_string_get_value " + kept, "i_string"},
    };
    auto check = [&](Tcl_Interp* interp, const std::string& release) {
        std::string setup =
            "set s [vek_create_string a]; set n [vek_create_named_string nm v]; "
            "set t [vek_create_string b]; " +
            release + " $t; list [i_string_get_value $n] [$n get_name]";
        ASSERT_EQ(Tcl_Eval(interp, setup.c_str()), TCL_OK);
        EXPECT_STREQ(Tcl_GetStringResult(interp), "v nm");
        for (const auto& c : cases) {
            EXPECT_EQ(Tcl_Eval(interp, c[0].c_str()), TCL_ERROR);
            EXPECT_EQ(Tcl_GetStringResult(interp), "TypeError in method '" + c[0].substr(0, c[0].find(' ')) +
                                                       "', argument 1 of type 'vek::" + c[1] + " *'")
                << release << ": " << c[0];
        }
    };
    const long addr0 = reinterpret_cast<long>(dynamic_cast<void*>(engines[0]));
    w[1].run([&] {
        check(engine_interp(engines[1]), "vek_release");
        EXPECT_EQ(tcl_value(engines[1], "[_vek_get_script_engine " + std::to_string(addr0) + "]"), "NULL");
    });
    Tcl_Interp* plain = Tcl_CreateInterp();  // in this thread, which has no engine
    ASSERT_EQ(Vek_core_Init(plain), TCL_OK);
    check(plain, "vek_release_orig");
    Tcl_Eval(plain, "vek_release_orig $s; vek_release_orig $n");
    Tcl_DeleteInterp(plain);
    w[0].run([&] { EXPECT_EQ(tcl_value(engines[0], "[$::kept get_value]"), "a"); });
    for (int i = 0; i < 4; ++i) {
        w[i].run([&, i] { engines[i]->release(); });
        w[i].stop();  // its exit handler destroys its engine
    }
    EXPECT_EQ(count_of(p), 1);
    p->release();
    EXPECT_EQ(probe::live, 0);
    ASSERT_TRUE(svc->add_init_cmd("set ::after 1"));  // walks the table: no freed engine in it
    take_engine();
    EXPECT_EQ(tcl_value(e, "$::after"), "1");
}

// Plain interpreters share one type table, named by a variable; a safe one
// gets the package too.
TEST_F(TclBindingTest, PlainInterpretersInFourThreadsShareOneTypeTableAndASafeOneGetsThePackage)
{
    const char var[] = "swig_runtime_data_type_pointer2";
    const std::string preset = "00000000deadbeef";
    worker w[4];
    std::string seen[4];
    std::atomic<int> ready{0};
    for (int i = 0; i < 4; ++i) {
        w[i].run(
            [&, i] {
                Tcl_Interp* interp = Tcl_CreateInterp();
                if (i == 3) Tcl_SetVar(interp, var, preset.c_str(), TCL_GLOBAL_ONLY);
                ++ready;
                EXPECT_TRUE(vek_test::wait_for([&] { return ready == 4; }));
                EXPECT_EQ(Vek_core_Init(interp), TCL_OK);
                const char* value = Tcl_GetVar(interp, var, TCL_GLOBAL_ONLY);
                seen[i] = value != nullptr ? value : "<unset>";
                EXPECT_EQ(Tcl_Eval(interp, "vek_get_days_in_year 2024"), TCL_OK);
                EXPECT_STREQ(Tcl_GetStringResult(interp), "365");  // one less than its days
                Tcl_DeleteInterp(interp);
            },
            false);
    }
    for (auto& t : w) t.wait();
    EXPECT_TRUE(std::regex_match(seen[0], std::regex("[0-9a-f]{16}"))) << seen[0];
    EXPECT_EQ((vek_test::lines{seen[1], seen[2], seen[3]}), (vek_test::lines{seen[0], seen[0], preset}));

    EXPECT_EQ((ints{Vek_core_Init(nullptr), Vek_core_SafeInit(nullptr)}), (ints{TCL_ERROR, TCL_ERROR}));
    Tcl_Interp* master = Tcl_CreateInterp();
    Tcl_Interp* safe = Tcl_CreateSlave(master, "safe", 1);
    ASSERT_NE(safe, nullptr);
    ASSERT_EQ(Vek_core_SafeInit(safe), TCL_OK);
    // The release is a plain one: no engine tracks the string.
    EXPECT_EQ(Tcl_Eval(safe,
                       "set s [vek_create_string safe]; list [package present vek_core] [vek_wildcmp a*c abbc] "
                       "[catch i_string m] $m [$s get_value] [vek_release_orig $s] [interp issafe]"),
              TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(safe), "0.0 1 1 {No constructor available.} safe {} 1");
    Tcl_DeleteInterp(master);
}

}  // namespace
