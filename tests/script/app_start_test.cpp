// Plug-ins and sites started through their start scripts.
#include <fstream>
#include <sstream>
#include <tuple>

#include "script/script_support.h"

namespace {

typedef std::vector<std::string> lines;

class AppStartTest : public vek_test::script_test {
protected:
    void SetUp() override
    {
        script_test::SetUp();
        for (const char* name : {"VEK_PLUGINS_ROOT", "VEK_SITES_ROOT", "VEK_PLUGINS_LIST", "VEK_SITES_LIST"})
            unsetenv(name);
        vek_enable_trace(true);
        fresh("trace.txt");  // opens both files
        std::ofstream(root / "app.env") << "# nothing but a comment\n";
    }
    void TearDown() override
    {
        vek_set_trace_facility("stdout");
        script_test::TearDown();
    }
    // Writes the start script of package `name` under `dir` of the root.
    void package(const std::string& dir, const std::string& name, const std::string& body)
    {
        std::filesystem::create_directories(root / dir / name);
        std::ofstream(root / dir / name / "start.tcl") << body << "\n";
    }
    // What was written to `file` ("trace.txt" or "log.txt") since the last
    // call, without time stamps. Opening the files again flushes them.
    lines fresh(const char* file)
    {
        vek_set_trace_facility((root / "trace.txt").c_str());
        vek_set_log_facility((root / "log.txt").c_str());
        std::istringstream in(vek_test::read_text(root / file));
        std::filesystem::resize_file(root / file, 0);  // appends go on at the new end
        lines out;
        for (std::string line; std::getline(in, line);) out.push_back(line.substr(21));
        return out;
    }
    bool init_app(const std::string& env) { return vek_init_app((root / env).c_str()); }

private:
    vek_test::env_guard m_app_env{"VEK_PLUGINS_ROOT", "VEK_SITES_ROOT", "VEK_PLUGINS_LIST", "VEK_SITES_LIST", "PATH"};
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
        package("plugins", "p", c.first);
        touch((root / "plugins/p/start.tcl").string(), time(nullptr) + (&c - cases));  // the engine caches by time
        EXPECT_EQ(vek_load_plugin("p"), c.second.empty()) << c.first;
        EXPECT_EQ(fresh("log.txt"), c.second.empty() ? lines{} : lines{c.second}) << c.first;
    }
}

TEST_F(AppStartTest, LoaderFailuresAreTracedOnce)
{
    vek::i_script_engine* e = svc->get_script_engine();
    EXPECT_FALSE(vek_load_resource("p", "plugin", nullptr));
    EXPECT_FALSE(vek_load_plugin(""));
    EXPECT_FALSE(vek_load_site(nullptr));
    EXPECT_FALSE(vek_load_site("nowhere"));
    // Only the first root holding a package is tried.
    package("a", "p", "set plugin_error first");
    package("b", "p", "set plugin_status 1");
    package("b", "q", "set plugin_status 1");
    setenv("VEK_PLUGINS_ROOT", ((root / "a").string() + ";;" + (root / "b").string()).c_str(), 1);
    EXPECT_FALSE(vek_load_resource("p", "plugin", e));
    EXPECT_TRUE(vek_load_resource("q", "plugin", e));
    unsetenv("VEK_ROOT_PATH");
    EXPECT_FALSE(vek_load_resource("p", "site", e));
    setenv("VEK_ROOT_PATH", root.c_str(), 1);
    e->release();
    EXPECT_EQ(
        fresh("trace.txt"),
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
    const lines names = {"two words", "q$[x] {y}", "a\"b", "q$[x]\""};
    for (const std::string& name : names) {
        package("plugins", name,
                "set plugin_status [expr {$plugin_name eq {" + name + "} && $plugin_root eq {" +
                    (root / "plugins").string() + "/" + name + "}}]");
    }
    setenv("VEK_PLUGINS_LIST", (",two words,," + names[1] + "," + names[2] + ",").c_str(), 1);
    setenv("VEK_SITES_LIST", ",,", 1);
    EXPECT_TRUE(init_app("app.env"));
    EXPECT_EQ(
        fresh("trace.txt"),
        (lines{"vek_init_app('" + (root / "app.env").string() + "')",
               "vek_load_environment('" + (root / "app.env").string() + "')", "Loading VEK plugin: 'two words'...",
               "Loading VEK plugin: '" + names[1] + "'...", "Loading VEK plugin: '" + names[2] + "'..."}));
    EXPECT_FALSE(vek_library_loaded("vek_http"));
    // A name with both '$' and '"' is found, but the file name the engine
    // resolves loses its quote, so the script cannot be read.
    EXPECT_FALSE(vek_load_plugin(names[3].c_str()));
}

TEST_F(AppStartTest, InitAppStopsAtTheFirstFailureAndReleasesTheEngine)
{
    package("plugins", "good", "set plugin_status 1");
    package("plugins", "broken", "error {no shelf}");
    package("sites", "shop", "set site_status [expr {![catch {package present vek_http}]}]");
    std::ofstream(root / "bad.env") << "VEK_PLUGINS_LIST=good,broken,good\n";
    std::ofstream(root / "sites.env") << "VEK_PLUGINS_LIST=good\nVEK_SITES_LIST=shop\n";
    const int svc_count = vek_test::count_of(svc_obj);
    const std::tuple<const char*, std::string, lines> cases[] = {
        // env file, PATH, log after the first line
        {"missing.env", "/nowhere", {"vek_init_app: Error loading environment"}},
        {"bad.env",
         "/nowhere",
         {"vek_load_plugin('broken'). Error loading plugin. no shelf", "Error: couldn`t load VEK plugin: 'broken'."}},
        {"sites.env", "/nowhere", {"Error: couldn`t load vek_http module into core."}},
        {"sites.env", std::filesystem::path(VEK_HTTP_SO).parent_path().string(), {}},
    };
    for (const auto& [env, path, log_tail] : cases) {
        setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(init_app(env), log_tail.empty()) << env;
        lines log = fresh("log.txt");
        EXPECT_EQ(lines(log.begin() + 1, log.end()), log_tail) << env;
        EXPECT_EQ(vek_test::count_of(svc_obj), svc_count);
        // The engine was recycled: the protocol's variables went with its namespace.
        vek::i_script_engine* e = svc->get_script_engine();
        EXPECT_EQ(vek_test::count_of(e), 2);
        EXPECT_EQ(vek_test::tcl_value(e, "[info exists plugin_status]"), "0");
        e->release();
    }
    EXPECT_TRUE(vek_library_loaded("vek_http"));
    const lines trace = fresh("trace.txt");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "Loading VEK site: 'shop'..."), 1);

    // Without the script service every start fails at the engine.
    ASSERT_TRUE(vek_core()->unregister_service("svc_script"));
    EXPECT_FALSE(init_app("sites.env"));
    EXPECT_EQ(fresh("log.txt").back(), "Error: couldn`t load VEK plugin: 'good'.");
    const lines last = fresh("trace.txt");
    EXPECT_EQ(std::count(last.begin(), last.end(),
                         "vek_load_plugin('good'): Error fetching script engine. Check if vek_core library is loaded "
                         "into core."),
              1);
}

}  // namespace
