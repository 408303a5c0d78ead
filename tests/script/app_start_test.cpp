// Plug-ins and sites started through their start scripts. A full start and
// a start script's own error stopping it are pinned end to end by the host
// program's tests (the shop).
#include <tuple>

#include "script/script_support.h"

namespace {

using vek_test::ints;
using vek_test::lines;

class AppStartTest : public vek_test::script_test {
protected:
    bool init_app(const std::string& env) { return vek_init_app((root / env).c_str()); }
};

// The name, with a quote and braces, reaches the script whole. Each failure
// to start is traced once.
TEST_F(AppStartTest, TheStatusAndErrorVariablesDecideTheResultAndLoaderFailuresAreTracedOnce)
{
    const std::string name = "a\"b {c}", fail = "vek_load_plugin('" + name + "'). Error loading plugin. ";
    const std::pair<std::string, std::string> cases[] = {
        // start script, log line ("": success)
        {"set plugin_status [expr {$plugin_name eq {" + name + "} && $plugin_error eq {} && $plugin_root eq {" +
             (root / "plugins" / name).string() + "}}]",
         ""},
        {"set plugin_status 2", ""},
        {"set plugin_error {out of stock}", fail + "out of stock"},
        {"unset plugin_status plugin_error", fail},
        {"error {shelf collapsed}", fail + "shelf collapsed"},
    };
    for (const auto& c : cases) {
        write("plugins/" + name + "/start.tcl", c.first, time(nullptr) + (&c - cases));  // the engine caches by time
        EXPECT_EQ(vek_load_plugin(name.c_str()), c.second.empty()) << c.first;
        EXPECT_EQ(fresh("log.txt"), c.second.empty() ? lines{} : lines{c.second}) << c.first;
    }

    fresh();
    take_engine();
    // Only the first root holding a package is tried.
    write("a/p/start.tcl", "set plugin_error first");
    write("b/p/start.tcl", "set plugin_status 1");
    write("b/q/start.tcl", "set plugin_status 1");
    setenv("VEK_PLUGINS_ROOT", ((root / "a").string() + ";;" + (root / "b").string()).c_str(), 1);
    EXPECT_EQ((ints{vek_load_resource("p", "plugin", nullptr), vek_load_plugin(""), vek_load_site("nowhere"),
                    vek_load_resource("p", "plugin", e), vek_load_resource("q", "plugin", e)}),
              (ints{0, 0, 0, 0, 1}));
    EXPECT_EQ(
        fresh(),
        (lines{"vek_load_plugin('p'): Error fetching script engine. Check if vek_core library is loaded into core.",
               "vek_load_plugin: error loading plugin with empty name",
               "vek_load_site('nowhere'): Could not find site directory.",
               "vek_load_plugin('p'). Error loading plugin. first"}));
}

// Empty names in the lists are skipped; the engine and the service are
// given back whatever the outcome.
TEST_F(AppStartTest, InitAppSkipsEmptyNamesStopsAtTheFirstFailureAndReleasesTheEngine)
{
    const std::string odd = "q$[x] {y}";
    write("plugins/two words/start.tcl", "set plugin_status 1");
    write("plugins/" + odd + "/start.tcl", "set plugin_status [expr {$plugin_name eq {" + odd + "}}]");
    write("app.env", "# nothing but a comment\n");
    setenv("VEK_PLUGINS_LIST", (",two words,," + odd + ",").c_str(), 1);
    setenv("PATH", "/nowhere", 1);  // no vek_http
    const int svc_count = vek_test::count_of(svc);
    const std::tuple<const char*, const char*, bool, lines> cases[] = {
        // env file, VEK_SITES_LIST, result, log after the first line
        {"missing.env", ",,", false, {"vek_init_app: Error loading environment"}},
        {"app.env", ",,", true, {}},
        {"app.env", ",shop", false, {"Error: couldn`t load vek_http module into core."}},
    };
    for (const auto& [env, sites, ok, log_tail] : cases) {
        setenv("VEK_SITES_LIST", sites, 1);
        EXPECT_EQ(init_app(env), ok) << env << " " << sites;
        lines log = fresh("log.txt");
        EXPECT_EQ(lines(log.begin() + 1, log.end()), log_tail) << env << " " << sites;
        EXPECT_EQ(vek_test::count_of(svc), svc_count);
        // The engine was recycled: the protocol's variables went with its namespace.
        vek::i_script_engine* engine = svc->get_script_engine();
        EXPECT_EQ(vek_test::count_of(engine), 2);
        EXPECT_EQ(vek_test::tcl_value(engine, "[info exists plugin_status]"), "0");
        engine->release();
    }
}

}  // namespace
