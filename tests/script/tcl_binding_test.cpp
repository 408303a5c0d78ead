// The Tcl package's runtime: the tracking hooks, object handles in engines
// of two threads and in plain and safe interpreters, the shared type table
// and the entry points.
#include <regex>

#include "script/script_support.h"

namespace {

using vek_test::count_of;
using vek_test::ints;
using vek_test::probe;
using vek_test::tcl_value;

// Stands for `target` before scripts; made with its creator's reference,
// and counted live as a probe.
class stand_in : public probe, public vek::i_script_object_subsitutor {
public:
    explicit stand_in(vek::i_object* target) : target(target) { addref(); }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_script_object_subsitutor") != 0) return probe::get_interface(iface_name, pp_obj);
        *pp_obj = static_cast<vek::i_script_object_subsitutor*>(this);
        return true;
    }
    vek::i_object* get_object_pointer() override
    {
        ++asked;
        target->addref();
        return target;
    }
    vek::i_object* const target;
    std::atomic<int> asked{0};
};

// The engine's own interpreter, reached through a static package the
// engine loads, so that a test can make commands in it.
Tcl_Interp* engine_interp(vek::i_script_engine* e)
{
    static Tcl_Interp* grabbed;
    static Tcl_PackageInitProc* const grab = [](Tcl_Interp* interp) {
        grabbed = interp;
        return TCL_OK;
    };
    static const bool registered = (Tcl_StaticPackage(nullptr, "Vekgrab", grab, grab), true);
    grabbed = nullptr;
    return registered && e->execute_text("load {} Vekgrab") ? grabbed : nullptr;
}

class TclBindingTest : public vek_test::script_test {};

TEST_F(TclBindingTest, HooksTrackTheObjectAStandInNamesAndGiveItsReferenceBack)
{
    take_engine();
    auto* target = new probe("t");
    target->addref();
    auto* sub = new stand_in(target);
    Tcl_Interp* interp = engine_interp(e);
    ASSERT_NE(interp, nullptr);
    // After a hook's result `r`: the counts of the target and the stand-in
    // (which is never counted), whether each is tracked, and whether the
    // command registered through the stand-in still exists.
    auto state = [&](int r) {
        const int exists = Tcl_FindCommand(interp, "bound", nullptr, TCL_GLOBAL_ONLY) != nullptr;
        return ints{r, count_of(target), count_of(sub), vek_tcl_test_object(target), vek_tcl_test_object(sub), exists};
    };

    // Everything goes to the target: its count, its script count and the
    // command, which goes at script count 0.
    auto cmd = [](ClientData, Tcl_Interp*, int, Tcl_Obj* const*) { return TCL_OK; };
    vek_tcl_register_object(sub, Tcl_CreateObjCommand(interp, "bound", cmd, nullptr, nullptr));
    EXPECT_EQ(state(0), (ints{0, 1, 1, 0, 0, 1}));
    EXPECT_GE(vek_tcl_addref(sub, true), 2);                                  // the target's addref result
    EXPECT_EQ(state(vek_tcl_addref(sub, false)), (ints{0, 2, 1, 1, 1, 1}));   // the stand-in's given back
    EXPECT_EQ(state(vek_tcl_release(sub, false)), (ints{0, 2, 1, 1, 1, 1}));  // one script count left
    EXPECT_EQ(state(vek_release_script_object(sub)), (ints{0, 1, 1, 0, 0, 0}));
    EXPECT_EQ(state(vek_tcl_release(target, true)), (ints{0, 1, 1, 0, 0, 0}));  // unknown: none given back

    // A thread without an engine: nothing is counted, and the test answers
    // only for an object a binding handed out, without asking it.
    int asked = sub->asked;
    std::thread([&] {
        EXPECT_EQ((ints{vek_tcl_addref(sub, true), vek_tcl_addref(target, false), vek_tcl_release(target, true),
                        vek_release_script_object(sub), vek_tcl_test_object(sub)}),
                  (ints{0, 0, 0, 0, 0}));
        vek_tcl_register_object(sub, nullptr);
        EXPECT_TRUE(vek_tcl_test_object(sub));
    }).join();
    EXPECT_EQ(sub->asked, asked);
    EXPECT_EQ(count_of(target), 1);
    sub->release();
    target->release();
    EXPECT_EQ(probe::live, 0);
}

// A handle the package did not hand out (here, or in another engine), or
// not as the type it names, or one of a released object is a TypeError,
// never a read, in an engine and in a plain interpreter alike; a derived
// handle still serves its bases. Every interpreter, safe ones too, gets the
// package and names the one type table.
TEST_F(TclBindingTest, EnginesAndPlainInterpretersRefuseForgedRelabelledAndStaleHandles)
{
    take_engine();
    auto* p = new probe("shared");
    p->addref();
    const std::string kept = tcl_value(e, "[set ::kept [vek_create_string a]]"),
                      addr = std::to_string(reinterpret_cast<long>(dynamic_cast<void*>(e)));
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
    EXPECT_EQ((ints{Vek_core_Init(nullptr), Vek_core_SafeInit(nullptr)}), (ints{TCL_ERROR, TCL_ERROR}));
    std::thread([&] {
        // A plain interpreter in a thread that has no engine yet.
        Tcl_Interp* plain = Tcl_CreateInterp();
        ASSERT_EQ(Vek_core_Init(plain), TCL_OK);
        check(plain, "vek_release_orig");
        ASSERT_EQ(Tcl_Eval(plain, "vek_release_orig $s; vek_release_orig $n; set swig_runtime_data_type_pointer2"),
                  TCL_OK);
        const std::string table = Tcl_GetStringResult(plain);
        EXPECT_TRUE(std::regex_match(table, std::regex("[0-9a-f]{16}"))) << table;
        // Another binding's table stays; the release is a plain one: no
        // engine tracks the string.
        Tcl_Interp* safe = Tcl_CreateSlave(plain, "safe", 1);
        Tcl_SetVar(safe, "swig_runtime_data_type_pointer2", "00000000deadbeef", TCL_GLOBAL_ONLY);
        ASSERT_EQ(Vek_core_SafeInit(safe), TCL_OK);
        EXPECT_EQ(Tcl_Eval(safe,
                           "set s [vek_create_string safe]; list [package present vek_core] [$s get_value] "
                           "[vek_release_orig $s] [interp issafe] $swig_runtime_data_type_pointer2"),
                  TCL_OK);
        EXPECT_STREQ(Tcl_GetStringResult(safe), "3.18.0152 safe {} 1 00000000deadbeef");
        Tcl_DeleteInterp(plain);

        // Then the thread's own engine.
        vek::i_script_engine* mine = svc->get_script_engine();
        ASSERT_NE(mine, nullptr);
        EXPECT_TRUE(mine->register_object(p, "p", ""));
        check(engine_interp(mine), "vek_release");
        EXPECT_EQ(tcl_value(mine, "[_vek_get_script_engine " + addr + "]/$::swig_runtime_data_type_pointer2"),
                  "NULL/" + table);
        mine->release();
        Tcl_FinalizeThread();  // its exit handler destroys its engine, as when a framework thread ends
    }).join();
    EXPECT_EQ(count_of(p), 1);
    p->release();
    EXPECT_EQ(probe::live, 0);
    ASSERT_TRUE(svc->add_init_cmd("set ::after 1"));  // walks the table: no freed engine in it
    EXPECT_EQ(tcl_value(e, "[$::kept get_value]/$::after"), "a/1");
}

}  // namespace
