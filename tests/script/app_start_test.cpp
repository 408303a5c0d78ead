// Plug-ins and sites started through their start scripts.
#include <tuple>

#include "script/script_support.h"

namespace {

using vek_test::lines;

class AppStartTest : public vek_test::script_test {
protected:
    bool init_app(const std::string& env) { return vek_init_app((root / env).c_str()); }
};

TEST_F(AppStartTest, TheStatusAndErrorVariablesDecideTheResult)
{
    const std::string fail = "vek_load_plugin('p'). Error loading plugin. ";
    const std::pair<std::string, std::string> cases[] = {
        // start script, log line ("": success)
        {"set plugin_status 1", ""},
        {"set plugin_status 2", ""},
        {"", fail},
        {"set plugin_error {out of stock}", fail + "out of stock"},
        {"set plugin_status 0; set plugin_error late", fail + "late"},
        {"set plugin_status abc", fail},
        {"unset plugin_status plugin_error", fail},
        {"error {shelf collapsed}", fail + "shelf collapsed"},
        {"set plugin_status [expr {$plugin_name eq {p} && $plugin_error eq {} && $plugin_root eq {" +
             (root / "plugins/p").string() + "}}]",
         ""},
    };
    for (const auto& c : cases) {
        write("plugins/p/start.tcl", c.first, time(nullptr) + (&c - cases));  // the engine caches by time
        EXPECT_EQ(vek_load_plugin("p"), c.second.empty()) << c.first;
        EXPECT_EQ(fresh("log.txt"), c.second.empty() ? lines{} : lines{c.second}) << c.first;
    }
}

TEST_F(AppStartTest, LoaderFailuresAreTracedOnce)
{
    take_engine();
    EXPECT_EQ((vek_test::ints{vek_load_resource("p", "plugin", nullptr), vek_load_plugin(""), vek_load_site(nullptr),
                              vek_load_site("nowhere")}),
              (vek_test::ints{0, 0, 0, 0}));
    // Only the first root holding a package is tried.
    write("a/p/start.tcl", "set plugin_error first");
    write("b/p/start.tcl", "set plugin_status 1");
    write("b/q/start.tcl", "set plugin_status 1");
    setenv("VEK_PLUGINS_ROOT", ((root / "a").string() + ";;" + (root / "b").string()).c_str(), 1);
    EXPECT_EQ((vek_test::ints{vek_load_resource("p", "plugin", e), vek_load_resource("q", "plugin", e)}),
              (vek_test::ints{0, 1}));
    unsetenv("VEK_ROOT_PATH");
    EXPECT_FALSE(vek_load_resource("p", "site", e));
    setenv("VEK_ROOT_PATH", root.c_str(), 1);
    EXPECT_EQ(
        fresh(),
        (lines{"vek_load_plugin('p'): Error fetching script engine. Check if vek_core library is loaded into core.",
               "vek_load_plugin: error loading plugin with empty name",
               "vek_load_site: error loading site with empty name",
               "vek_load_site('nowhere'): Could not find site directory.",
               "vek_load_plugin('p'). Error loading plugin. first",
               "vek_load_site('p'): Invalid sites path pointed by environment variable 'VEK_SITES_ROOT'"}));
    EXPECT_EQ(fresh("log.txt"), lines{"vek_load_plugin('p'). Error loading plugin. first"});
}

TEST_F(AppStartTest, ListsSkipEmptyNamesAndKeepOddOnesWhole)
{
    write("app.env", "# nothing but a comment\n");
    const lines names = {"two words", "q$[x] {y}", "a\"b", "q$[x]\""};
    for (const std::string& name : names) {
        write("plugins/" + name + "/start.tcl", "set plugin_status [expr {$plugin_name eq {" + name +
                                                    "} && $plugin_root eq {" + (root / "plugins").string() + "/" +
                                                    name + "}}]");
    }
    setenv("VEK_PLUGINS_LIST", (",two words,," + names[1] + "," + names[2] + ",").c_str(), 1);
    setenv("VEK_SITES_LIST", ",,", 1);
    EXPECT_TRUE(init_app("app.env"));
    const std::string env = (root / "app.env").string();
    EXPECT_EQ(fresh(), (lines{"vek_init_app('" + env + "')", "vek_load_environment('" + env + "')",
                              "Loading VEK plugin: 'two words'...", "Loading VEK plugin: '" + names[1] + "'...",
                              "Loading VEK plugin: '" + names[2] + "'..."}));
    EXPECT_FALSE(vek_library_loaded("vek_http"));
    // A name with both '$' and '"' is found, but the file name the engine
    // resolves loses its quote, so the script cannot be read.
    EXPECT_FALSE(vek_load_plugin(names[3].c_str()));
}

// A failing plug-in stopping the start is pinned end to end by the host
// program's tests (the shop).
TEST_F(AppStartTest, InitAppStopsAtTheFirstFailureAndReleasesTheEngine)
{
    write("plugins/good/start.tcl", "set plugin_status 1");
    write("sites/shop/start.tcl", "set site_status [expr {![catch {package present vek_http}]}]");
    write("sites.env", "VEK_PLUGINS_LIST=good\nVEK_SITES_LIST=shop\n");
    const int svc_count = vek_test::count_of(svc);
    const std::tuple<const char*, std::string, lines> cases[] = {
        // env file, PATH, log after the first line
        {"missing.env", "/nowhere", {"vek_init_app: Error loading environment"}},
        {"sites.env", "/nowhere", {"Error: couldn`t load vek_http module into core."}},
        {"sites.env", std::filesystem::path(VEK_HTTP_SO).parent_path().string(), {}},
    };
    for (const auto& [env, path, log_tail] : cases) {
        setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(init_app(env), log_tail.empty()) << env;
        lines log = fresh("log.txt");
        EXPECT_EQ(lines(log.begin() + 1, log.end()), log_tail) << env;
        EXPECT_EQ(vek_test::count_of(svc), svc_count);
        // The engine was recycled: the protocol's variables went with its namespace.
        vek::i_script_engine* engine = svc->get_script_engine();
        EXPECT_EQ(vek_test::count_of(engine), 2);
        EXPECT_EQ(vek_test::tcl_value(engine, "[info exists plugin_status]"), "0");
        engine->release();
    }
    EXPECT_TRUE(vek_library_loaded("vek_http"));
    EXPECT_EQ(traced("Loading VEK site: 'shop'..."), 1);

    // Without the script service every start fails at the engine.
    ASSERT_TRUE(vek_core()->unregister_service("svc_script"));
    EXPECT_FALSE(init_app("sites.env"));
    EXPECT_EQ(fresh("log.txt").back(), "Error: couldn`t load VEK plugin: 'good'.");
    EXPECT_EQ(traced("vek_load_plugin('good'): Error fetching script engine. Check if vek_core library is loaded "
                     "into core."),
              1);
}

}  // namespace
