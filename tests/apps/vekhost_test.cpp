#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

typedef std::vector<std::string> lines;

// Runs the built vekhost with PATH leading to vek_core.so and the scratch
// directory as VEK_ROOT_PATH; its output goes to files there.
class VekhostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(dir);
        setenv("PATH", (std::string(VEK_CORE_DIR) + ":" + std::getenv("PATH")).c_str(), 1);
        setenv("VEK_ROOT_PATH", dir.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir); }

    pid_t start(lines args)
    {
        args.insert(args.begin(), VEKHOST);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::string out = (dir / "out.txt").string(), err = (dir / "err.txt").string();
        pid_t pid = fork();
        if (pid == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    // The exit code, or -1 when the program neither exits within 10 s nor
    // exits normally.
    static int finish(pid_t pid)
    {
        int status = 0;
        bool done = vek_test::wait_for([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000);
        if (!done && kill(pid, SIGKILL) == 0) waitpid(pid, &status, 0);
        return done && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int run(const lines& args) { return finish(start(args)); }
    std::string out() { return vek_test::read_text(dir / "out.txt"); }
    std::string err() { return vek_test::read_text(dir / "err.txt"); }

    // The trace (or another) file's lines without their time stamps.
    lines trace(const char* file = "trace.txt")
    {
        std::istringstream in(vek_test::read_text(dir / file));
        lines out;
        for (std::string line; std::getline(in, line);) out.push_back(line.size() > 21 ? line.substr(21) : line);
        return out;
    }

    // Waits up to `ms` for each of `expected` to be in the trace, in this
    // order.
    bool traced(const lines& expected, int ms = 10000)
    {
        auto in_order = [&] {
            std::size_t found = 0;
            for (const std::string& line : trace()) found += found < expected.size() && line == expected[found];
            return found == expected.size();
        };
        return vek_test::wait_for(in_order, ms);
    }

    fs::path dir = vek_test::scratch_path("vek_vekhost");
    vek_test::env_guard m_env{"PATH", "VEK_ROOT_PATH"};
};

TEST_F(VekhostTest, RunsAConfigurationAloneUntilSigterm)
{
    pid_t pid = start({"--trace", "trace.txt", std::string(HELLO_DIR) + "/config.xml"});
    bool up = traced({"Loaded 'vek_core' version '3.18.0152'"});
    kill(pid, SIGTERM);
    EXPECT_TRUE(up) << err();
    EXPECT_EQ(finish(pid), 0) << err();
    EXPECT_EQ(err(), "");
}

TEST_F(VekhostTest, ArgumentsAndFailedStepsGiveUsageOrOneLineReasons)
{
    const std::string usage = "usage: vekhost [--trace FILE] [--log FILE] CONFIG.xml [ENV_FILE]\n";
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(out().rfind(usage, 0), 0u);
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_EQ(out(), "3.18.0152\n");

    std::ofstream(dir / "empty.xml") << "<c/>";
    const std::tuple<lines, int, std::string> rows[] = {
        // arguments, exit code, standard error
        {{"--trace", "trace.txt", "missing.xml"}, 1, "vekhost: cannot load configuration 'missing.xml'\n"},
        {{"empty.xml", "app.env"}, 1, "vekhost: cannot start the application from 'app.env'\n"},
        {{}, 2, "vekhost: no configuration file given\n" + usage},
        {{"--trace"}, 2, "vekhost: option needs a file name\n" + usage},
        {{"--bogus", "c.xml"}, 2, "vekhost: unknown option\n" + usage},
        {{"a", "b", "c"}, 2, "vekhost: too many arguments\n" + usage},
    };
    for (const auto& [args, code, reason] : rows) {
        EXPECT_EQ(run(args), code) << reason;
        EXPECT_EQ(err(), reason);
    }
}

#ifdef SHOP_DIR
// The shop example, copied into the scratch directory (its root): started,
// changed while it runs and stopped; then started with a plug-in that fails.
TEST_F(VekhostTest, TheShopStartsReloadsAndStopsAndAFailingPluginEndsItsStart)
{
    fs::copy(SHOP_DIR, dir, fs::copy_options::recursive);
    fs::remove_all(dir / "data");  // left by a run in the source tree
    setenv("PATH", (std::string(SHOP_MODULE_DIRS ":") + std::getenv("PATH")).c_str(), 1);
    auto started = [&](const char* plugin) { return fs::exists(dir / "data" / (std::string(plugin) + ".started")); };
    const lines args = {"--trace", "trace.txt", "--log", "log.txt", "config.xml", "shop.env"};

    pid_t pid = start(args);
    // The first tick after the file is read greets, maybe before the site.
    EXPECT_TRUE(traced({"vek_init_app('shop.env')", "shop_core: [en] Welcome to the vek shop!"})) << err();
    EXPECT_TRUE(traced({"vek_load_config(config.xml)", "core::load_library(vek_core)", "vek_init_app('shop.env')",
                        "Loading VEK plugin: 'catalog'...", "Loading VEK plugin: 'audit'...",
                        "core::load_library(vek_http)", "Loading VEK site: 'storefront'..."}))
        << err();
    EXPECT_TRUE(started("catalog") && started("audit"));

    // A new language and a new name, with a modification time the reloader
    // cannot miss.
    std::ofstream(dir / "shop.env", std::ios::app) << "SHOP_LANG =  de  # was en\nSHOP_CURRENCY=EUR\n";
    timespec later[2] = {{time(nullptr) + 2, 0}, {time(nullptr) + 2, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "shop.env").c_str(), later, 0), 0);
    EXPECT_TRUE(traced({"Reloading environment configuration file '" + (dir / "shop.env").string() + "'",
                        "shop_core: [de] Willkommen im vek-Laden!"}))
        << err();

    kill(pid, SIGTERM);
    EXPECT_EQ(finish(pid), 0) << err();
    EXPECT_EQ(err(), "");
    EXPECT_TRUE(traced({"vek_terminate()", "core: releasing services...", "core: services released."}, 0));

    // The second start: "broken" fails, so "audit" and the site never start.
    for (const char* left : {"data", "trace.txt", "log.txt"}) fs::remove_all(dir / left);
    fs::create_directories(dir / "plugins/broken");
    std::ofstream(dir / "plugins/broken/start.tcl") << "error {the shelves fell over}\n";
    std::ofstream(dir / "shop.env", std::ios::app) << "VEK_PLUGINS_LIST=catalog,broken,audit\n";
    EXPECT_EQ(run(args), 1);
    EXPECT_EQ(err(), "vekhost: cannot start the application from 'shop.env'\n");
    EXPECT_EQ(trace("log.txt"), (lines{"vek_init_app('shop.env')",
                                       "vek_load_plugin('broken'). Error loading plugin. the shelves fell over",
                                       "Error: couldn`t load VEK plugin: 'broken'."}));
    EXPECT_TRUE(started("catalog"));
    EXPECT_FALSE(started("audit"));
    for (const char* absent : {"core::load_library(vek_http)", "Loading VEK plugin: 'audit'..."}) {
        EXPECT_FALSE(traced({absent}, 0)) << absent;
    }
    EXPECT_TRUE(
        traced({"Error: couldn`t load VEK plugin: 'broken'.", "vek_terminate()", "core: services released."}, 0));
}
#endif

}  // namespace
