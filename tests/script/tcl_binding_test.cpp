// The Tcl package's runtime: the tracking hooks, object handles in an
// engine, handles across threads, the shared type table and the entry
// points.
#include <regex>

#include "script/script_support.h"

namespace {

using vek_test::count_of;
using vek_test::probe;
using vek_test::tcl_value;
using vek_test::worker;

// Stands for `target` before scripts (or for nothing when it is null).
class stand_in : public vek::object, public vek::i_script_object_subsitutor {
public:
    static inline std::atomic<int> live{0};

    explicit stand_in(vek::i_object* target) : m_target(target) { ++live; }
    ~stand_in() override { --live; }

    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_script_object_subsitutor") == 0) {
            *pp_obj = static_cast<vek::i_script_object_subsitutor*>(this);
            return true;
        }
        return object::get_interface(iface_name, pp_obj);
    }
    vek::i_object* get_object_pointer() override
    {
        ++asked;
        if (m_target != nullptr) m_target->addref();
        return m_target;
    }

    std::atomic<int> asked{0};

private:
    vek::i_object* m_target;
};

// The interpreter of the last `load {} Vekgrab`: how a test reaches the
// engine's own interpreter to make commands in it.
Tcl_Interp* g_grabbed = nullptr;

Tcl_Interp* engine_interp(vek::i_script_engine* e)
{
    static const bool registered = [] {
        auto grab = [](Tcl_Interp* interp) {
            g_grabbed = interp;
            return TCL_OK;
        };
        Tcl_StaticPackage(nullptr, "Vekgrab", grab, grab);
        return true;
    }();
    (void)registered;
    g_grabbed = nullptr;
    return e->execute_text("load {} Vekgrab") ? g_grabbed : nullptr;
}

// A new object with the creator's reference (objects start at 0).
template <class T>
T* held(T* obj)
{
    obj->addref();
    return obj;
}

int no_op_cmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const*)
{
    return TCL_OK;
}

class TclBindingTest : public vek_test::engine_test {};

TEST_F(TclBindingTest, HooksTrackTheObjectAStandInNamesAndGiveItsReferenceBack)
{
    auto* target = held(new probe("t"));
    auto* sub = held(new stand_in(target));
    auto* none = held(new stand_in(nullptr));
    Tcl_Interp* interp = engine_interp(e);
    ASSERT_NE(interp, nullptr);
    auto exists = [&](const char* cmd) { return tcl_value(e, std::string("[llength [info commands ") + cmd + "]]"); };

    auto make = [&](const char* name) { return Tcl_CreateObjCommand(interp, name, no_op_cmd, nullptr, nullptr); };

    // Everything goes to the target: its count, its script count and the
    // command registered through the stand-in, which goes at script count 0.
    vek_tcl_register_object(sub, make("bound"));
    EXPECT_FALSE(vek_tcl_test_object(sub));
    EXPECT_GE(vek_tcl_addref(sub, true), 2);  // the target's addref result
    EXPECT_EQ(vek_tcl_addref(sub, false), 0);
    EXPECT_EQ(count_of(target), 2);  // one taken, the stand-in's given back
    EXPECT_EQ(count_of(sub), 1);     // the stand-in itself is never counted
    EXPECT_TRUE(vek_tcl_test_object(target));
    EXPECT_TRUE(vek_tcl_test_object(sub));
    EXPECT_EQ(vek_tcl_release(sub, false), 0);
    EXPECT_EQ(exists("bound"), "1") << e->get_error();  // one script count left
    EXPECT_EQ(vek_release_script_object(sub), 0);
    EXPECT_FALSE(vek_tcl_test_object(target));
    EXPECT_EQ(exists("bound"), "0");
    EXPECT_EQ(count_of(target), 1);
    EXPECT_EQ(vek_tcl_release(target, true), 0);  // unknown now: nothing given back
    EXPECT_EQ(count_of(target), 1);

    // A cast binds its command to the target without a count.
    vek_tcl_addref(target, true);
    vek_tcl_register_object(sub, make("cast"));
    vek_tcl_register_cast(none);
    vek_tcl_register_cast(sub);
    EXPECT_EQ(count_of(target), 2);
    vek_tcl_release(target, true);
    EXPECT_EQ(exists("cast"), "0");
    EXPECT_EQ(count_of(target), 1);

    // A stand-in for nothing ends every hook.
    vek_tcl_register_object(none, make("kept"));
    EXPECT_EQ(vek_tcl_addref(none, true), 0);
    EXPECT_FALSE(vek_tcl_test_object(none));
    EXPECT_EQ(vek_tcl_release(none, true), 0);
    vek_tcl_addref(target, true);  // no pending command to bind
    vek_tcl_release(target, true);
    EXPECT_EQ(exists("kept"), "1");
    EXPECT_EQ(count_of(none), 1);
    EXPECT_GT(none->asked, 0);

    // A thread without an engine: nothing is counted, and the test answers
    // only for an object a binding handed out, without asking it.
    worker w;
    w.start();
    int asked = sub->asked;
    w.run([&] {
        EXPECT_EQ(vek_tcl_addref(sub, true), 0);
        EXPECT_EQ(vek_tcl_addref(target, false), 0);
        EXPECT_EQ(vek_tcl_release(target, true), 0);
        EXPECT_EQ(vek_release_script_object(sub), 0);
        EXPECT_FALSE(vek_tcl_test_object(sub));
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
    EXPECT_EQ(stand_in::live, 0);
    EXPECT_EQ(probe::live, 0);
}

// Collections and strings made, linked, cast and released by a script;
// sets `leftover` to the object commands the rounds left behind.
const char k_rounds[] = R"(
set before [llength [info commands _*]]
for {set i 0} {$i < 1000} {incr i} {
    set c [vek_create_col]
    set s [vek_create_string v$i]
    $c add_item $s
    $c add_item $p
    set item [$c get_item_by_pos 0]
    if {[[vek_cast_i_string $item] get_value] ne "v$i"} { error "round $i" }
    set x [vek_cast_i_object_col_x [vek_cast_i_object_col $c]]
    i_object_release $item
    vek_release $s
    $x release
}
set leftover [expr {[llength [info commands _*]] - $before}]
)";

TEST_F(TclBindingTest, FourThreadsEachRunTheirOwnEngineAndRefuseEachOthersHandles)
{
    auto* p = held(new probe("shared"));
    worker w[4];
    vek::i_script_engine* engines[4] = {};
    for (auto& t : w) t.start();
    for (int i = 0; i < 4; ++i) {
        w[i].post([&, i] {
            engines[i] = svc->get_script_engine();
            ASSERT_NE(engines[i], nullptr);
            ASSERT_TRUE(engines[i]->register_object(p, "p", ""));
            EXPECT_TRUE(engines[i]->execute_text(k_rounds)) << engines[i]->get_error();
            EXPECT_EQ(tcl_value(engines[i], "$leftover/$i"), "0/1000");
        });
    }
    for (auto& t : w) t.wait();
    EXPECT_EQ(count_of(p), 5);  // one registration per engine, nothing else

    std::string handle;
    w[0].run([&] { handle = tcl_value(engines[0], "[set ::kept [vek_create_string a]]"); });
    const long addr0 = reinterpret_cast<long>(dynamic_cast<void*>(engines[0]));
    w[1].run([&] {
        EXPECT_FALSE(engines[1]->execute_text(("i_string_get_value " + handle).c_str()));
        EXPECT_EQ(std::string(engines[1]->get_error()).rfind("TypeError in method 'i_string_get_value'", 0), 0u)
            << engines[1]->get_error();
        EXPECT_EQ(tcl_value(engines[1], "[_vek_get_script_engine " + std::to_string(addr0) + "]"), "NULL");
    });
    w[0].run([&] { EXPECT_EQ(tcl_value(engines[0], "[$::kept get_value]"), "a"); });
    for (int i = 0; i < 4; ++i) {
        w[i].run([&, i] { engines[i]->release(); });
        w[i].stop();
    }
    EXPECT_EQ(count_of(p), 1);
    p->release();
    EXPECT_EQ(probe::live, 0);
}

// A handle the package did not hand out, or not as the type it names, or
// one of a released object is a TypeError, never a read, in an engine and
// in a plain interpreter alike; a derived handle still serves its bases.
TEST_F(TclBindingTest, ForgedRelabelledAndStaleHandlesAreTypeErrorsInEveryInterpreter)
{
    // Each script fails on argument 1 of its command, typed as given.
    const char* const cases[][2] = {
        {"i_binary_get_data_size [string map {i_string i_binary} $s]", "i_binary"},
        {"i_string_get_value [string map {i_named_string i_string} $n]", "i_string"},
        {"i_string_get_value [string map {i_core i_string} [vek_core]]", "i_string"},
        {"i_string_get_value _0100000000000000_p_vek__i_string", "i_string"},
        {"i_string_get_value $t", "i_string"},  // released
    };
    auto check = [&](Tcl_Interp* interp, const std::string& release) {
        std::string setup =
            "set s [vek_create_string a]; set n [vek_create_named_string nm v]; "
            "set t [vek_create_string b]; " +
            release + " $t; list [i_string_get_value $n] [$n get_name]";
        ASSERT_EQ(Tcl_Eval(interp, setup.c_str()), TCL_OK);
        EXPECT_STREQ(Tcl_GetStringResult(interp), "v nm");
        for (const auto& c : cases) {
            std::string cmd(c[0], std::strcspn(c[0], " "));
            EXPECT_EQ(Tcl_Eval(interp, c[0]), TCL_ERROR);
            EXPECT_EQ(Tcl_GetStringResult(interp),
                      "TypeError in method '" + cmd + "', argument 1 of type 'vek::" + c[1] + " *'")
                << release << ": " << c[0];
        }
    };
    check(engine_interp(e), "vek_release");
    worker w;  // no engine in this thread
    w.start();
    w.run([&] {
        Tcl_Interp* interp = Tcl_CreateInterp();
        ASSERT_EQ(Vek_core_Init(interp), TCL_OK);
        check(interp, "vek_release_orig");
        Tcl_Eval(interp, "vek_release_orig $s; vek_release_orig $n");
        Tcl_DeleteInterp(interp);
    });
    w.stop();
}

TEST_F(TclBindingTest, PlainInterpretersInFourThreadsShareOneTypeTableName)
{
    const char var[] = "swig_runtime_data_type_pointer2";
    const std::string preset = "00000000deadbeef";
    worker w[4];
    std::string seen[4];
    std::atomic<int> ready{0};
    for (auto& t : w) t.start();
    for (int i = 0; i < 4; ++i) {
        w[i].post([&, i] {
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
        });
    }
    for (auto& t : w) t.wait();
    for (auto& t : w) t.stop();
    EXPECT_TRUE(std::regex_match(seen[0], std::regex("[0-9a-f]{16}"))) << seen[0];
    EXPECT_EQ(seen[1], seen[0]);
    EXPECT_EQ(seen[2], seen[0]);
    EXPECT_EQ(seen[3], preset);  // another binding's table stays
}

// Commands made only as a handle (the core's, the engine's own) are never
// counted; the next object a script counts must not take them over.
TEST_F(TclBindingTest, TheCoresCommandOutlivesTheNextObjectCounted)
{
    auto* p = held(new probe("p"));
    ASSERT_TRUE(e->register_object(p, "h", ""));
    EXPECT_TRUE(e->execute_text("set core [vek_core]; $h addref; $h release; $h release; $core get_libraries"))
        << e->get_error();
    EXPECT_EQ(count_of(p), 1);
    p->release();
}

TEST(TclBindingEntryTest, ANullInterpreterFailsAndASafeOneGetsThePackage)
{
    EXPECT_EQ(Vek_core_Init(nullptr), TCL_ERROR);
    EXPECT_EQ(Vek_core_SafeInit(nullptr), TCL_ERROR);
    Tcl_Interp* master = Tcl_CreateInterp();
    Tcl_Interp* safe = Tcl_CreateSlave(master, "safe", 1);
    ASSERT_NE(safe, nullptr);
    ASSERT_EQ(Vek_core_SafeInit(safe), TCL_OK);
    auto eval = [&](const char* text) {
        int rc = Tcl_Eval(safe, text);
        return std::to_string(rc) + ":" + Tcl_GetStringResult(safe);
    };
    EXPECT_EQ(eval("package present vek_core"), "0:0.0");
    EXPECT_EQ(eval("vek_wildcmp a*c abbc"), "0:1");
    EXPECT_EQ(eval("i_string"), "1:No constructor available.");
    EXPECT_EQ(eval("set s [vek_create_string safe]; $s get_value"), "0:safe");
    EXPECT_EQ(eval("vek_release_orig $s"), "0:");  // no engine tracks it: a plain release
    EXPECT_EQ(eval("interp issafe"), "0:1");
    Tcl_DeleteInterp(master);
}

}  // namespace
