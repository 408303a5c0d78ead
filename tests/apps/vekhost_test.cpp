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
        dir = vek_test::scratch_path("vek_vekhost");
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
        if (!done) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

    // Waits up to 10 s for `want` to appear in the trace.
    bool traced(const std::string& want)
    {
        return vek_test::wait_for(
            [&] {
                lines t = trace();
                return std::find(t.begin(), t.end(), want) != t.end();
            },
            10000);
    }
    // Each of `expected` in the trace, in this order.
    void expect_in_order(const lines& expected)
    {
        lines t = trace();
        auto at = t.begin();
        for (const std::string& want : expected) {
            at = std::find(at, t.end(), want);
            ASSERT_NE(at, t.end()) << "missing or out of order: " << want;
        }
    }

    fs::path dir;
    vek_test::env_guard m_env{"PATH", "VEK_ROOT_PATH"};
};

TEST_F(VekhostTest, RunsHelloUntilSigtermAndShutsDownInOrder)
{
    const std::string config = std::string(HELLO_DIR) + "/config.xml";
    pid_t pid = start({"--trace", "trace.txt", config});
    const std::string loaded = "Loaded 'vek_core' version '3.18.0152'";
    bool up = vek_test::wait_for(
        [&] {
            lines t = trace();
            return std::find(t.begin(), t.end(), loaded) != t.end();
        },
        10000);
    kill(pid, SIGTERM);
    EXPECT_TRUE(up) << err();
    EXPECT_EQ(finish(pid), 0) << err();
    EXPECT_EQ(err(), "");

    expect_in_order({"vek_load_config(" + config + ")", "core::load_library(vek_core)", loaded, "vek_terminate()",
                     "core: releasing services...", "core: services released."});
    lines t = trace();
    EXPECT_EQ(std::count(t.begin(), t.end(), "core::load_library(vek_http)"), 0);
}

TEST_F(VekhostTest, ArgumentsAndFailedStepsGiveUsageOrOneLineReasons)
{
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(out().rfind("usage: vekhost [--trace FILE] [--log FILE] CONFIG.xml [ENV_FILE]\n", 0), 0u);

    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_EQ(out(), "3.18.0152\n");

    EXPECT_EQ(run({"--trace", "trace.txt", "missing.xml"}), 1);
    EXPECT_EQ(err(), "vekhost: cannot load configuration 'missing.xml'\n");

    std::ofstream(dir / "empty.xml") << "<c/>";
    EXPECT_EQ(run({"empty.xml", "app.env"}), 1);
    std::string reason = err();
    EXPECT_EQ(std::count(reason.begin(), reason.end(), '\n'), 1) << reason;
    EXPECT_NE(reason.find("'app.env'"), std::string::npos);

    for (const lines& bad : {lines{}, lines{"--trace"}, lines{"--bogus", "c.xml"}, lines{"a", "b", "c"}}) {
        EXPECT_EQ(run(bad), 2);
        EXPECT_EQ(err().rfind("vekhost: ", 0), 0u) << err();
    }
}

#ifdef SHOP_DIR
// The shop example, copied into the scratch directory (its root).
class ShopTest : public VekhostTest {
protected:
    void SetUp() override
    {
        VekhostTest::SetUp();
        fs::copy(SHOP_DIR, dir, fs::copy_options::recursive);
        fs::remove_all(dir / "data");  // left by a run in the source tree
        setenv("PATH", (std::string(SHOP_MODULE_DIRS ":") + std::getenv("PATH")).c_str(), 1);
    }
    // Replaces `from` by `to` in shop.env and appends `more`.
    void edit_env(const std::string& from, const std::string& to, const std::string& more = "")
    {
        std::string text = vek_test::read_text(dir / "shop.env");
        std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        std::ofstream(dir / "shop.env") << text.replace(at, from.size(), to) << more;
    }
    bool started(const char* plugin) { return fs::exists(dir / "data" / (std::string(plugin) + ".started")); }

    const lines args = {"--trace", "trace.txt", "--log", "log.txt", "config.xml", "shop.env"};
};

TEST_F(ShopTest, StartsPluginsThenTheSiteAndGreetsAgainAfterTheEnvironmentChanges)
{
    pid_t pid = start(args);
    EXPECT_TRUE(traced("shop_core: [en] Welcome to the vek shop!")) << err();
    // The first tick after the file is read greets, maybe before the site.
    EXPECT_TRUE(traced("Loading VEK site: 'storefront'...")) << err();
    expect_in_order({"vek_init_app('shop.env')", "Loading VEK plugin: 'catalog'...", "Loading VEK plugin: 'audit'...",
                     "core::load_library(vek_http)", "Loading VEK site: 'storefront'..."});
    expect_in_order({"vek_init_app('shop.env')", "shop_core: [en] Welcome to the vek shop!"});
    EXPECT_TRUE(started("catalog") && started("audit"));

    // A new language and a new name, with a modification time the reloader
    // cannot miss.
    edit_env("SHOP_LANG =  en", "SHOP_LANG =  de", "SHOP_CURRENCY=EUR\n");
    timespec later[2] = {{time(nullptr) + 2, 0}, {time(nullptr) + 2, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "shop.env").c_str(), later, 0), 0);
    EXPECT_TRUE(traced("shop_core: [de] Willkommen im vek-Laden!")) << err();
    expect_in_order({"Reloading environment configuration file '" + (dir / "shop.env").string() + "'",
                     "shop_core: [de] Willkommen im vek-Laden!"});

    kill(pid, SIGTERM);
    EXPECT_EQ(finish(pid), 0) << err();
    EXPECT_EQ(err(), "");
}

TEST_F(ShopTest, APluginThatFailsStopsTheStartAndTheHostExitsCleanly)
{
    fs::create_directories(dir / "plugins/broken");
    std::ofstream(dir / "plugins/broken/start.tcl") << "error {the shelves fell over}\n";
    edit_env("VEK_PLUGINS_LIST=catalog,audit", "VEK_PLUGINS_LIST=catalog,broken,audit");
    EXPECT_EQ(run(args), 1);
    EXPECT_EQ(err(), "vekhost: cannot start the application from 'shop.env'\n");
    EXPECT_EQ(trace("log.txt"), (lines{"vek_init_app('shop.env')",
                                       "vek_load_plugin('broken'). Error loading plugin. the shelves fell over",
                                       "Error: couldn`t load VEK plugin: 'broken'."}));
    EXPECT_TRUE(started("catalog"));
    EXPECT_FALSE(started("audit"));
    lines t = trace();
    for (const char* absent : {"core::load_library(vek_http)", "Loading VEK plugin: 'audit'..."}) {
        EXPECT_EQ(std::count(t.begin(), t.end(), absent), 0) << absent;
    }
    expect_in_order({"Error: couldn`t load VEK plugin: 'broken'.", "vek_terminate()", "core: services released."});
}
#endif

}  // namespace
