#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "http/http_client.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class VekhostTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    // Starts the built vekhost in the scratch directory, which is also its
    // VEK_ROOT_PATH, with `path` (vek_core.so's directory first) leading
    // PATH; `args` are split as the shell splits them, and the output goes to
    // files there.
    pid_t start(const std::string& args)
    {
        std::string command = "cd " + dir.string() + " && export VEK_HTTP_PORT=" + std::to_string(http_port) +
                              " VEK_ROOT_PATH=$PWD PATH=" + path + ":$PATH && exec " VEKHOST " " + args +
                              " >out.txt 2>err.txt";
        pid_t pid = fork();
        if (pid == 0) _exit(execl("/bin/sh", "sh", "-c", command.c_str(), nullptr));
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

    int run(const std::string& args) { return finish(start(args)); }
    std::string err() { return vek_test::read_text(dir / "err.txt"); }

    // Waits up to 10 s for each of `expected` to be in the trace, in this
    // order; the trace's lines are compared without their time stamps.
    bool traced(const std::vector<std::string>& expected)
    {
        auto in_order = [&] {
            std::istringstream in(vek_test::read_text(dir / "trace.txt"));
            std::size_t found = 0;
            for (std::string line; std::getline(in, line);)
                found += found < expected.size() && line.erase(0, 21) == expected[found];
            return found == expected.size();
        };
        return vek_test::wait_for(in_order, 10000);
    }

    fs::path dir = vek_test::scratch_path("vek_vekhost");
    const int http_port = vek_test::free_port();
    std::string path = VEK_CORE_DIR;
};

TEST_F(VekhostTest, ArgumentsAndFailedStepsGiveUsageOrOneLineReasons)
{
    const std::string usage = "usage: vekhost [OPTIONS] CONFIG.xml [ENV_FILE]\n", d = dir.string() + "/";
    EXPECT_EQ(run("-h"), 0);
    EXPECT_EQ(vek_test::read_text(dir / "out.txt").rfind(usage, 0), 0u);
    EXPECT_EQ(run("--version"), 0);
    EXPECT_EQ(vek_test::read_text(dir / "out.txt"), "3.18.0152\n");

    std::ofstream(dir / "empty.xml") << "";
    std::ofstream(dir / "ok.xml") << "<config/>";
    std::ofstream(dir / "lib.xml") << "<config><libraries><library path='vek_core' priority='1'/>"
                                      "<library path='gone'/></libraries></config>";
    const std::tuple<std::string, int, std::string> rows[] = {
        // arguments, exit code, standard error (its start, for long lines)
        {"--trace trace.txt missing.xml", 1,
         "vekhost: cannot read configuration '" + d + "missing.xml': No such file or directory\n"},
        {"empty.xml", 1, "vekhost: configuration '" + d + "empty.xml', line 1, column 1: no element found\n"},
        {"lib.xml", 1, "vekhost: library 'gone' not found; looked for: " + d + "gone.so, "},
        {"ok.xml app.env", 1, "vekhost: cannot read environment file '" + d + "app.env': No such file or directory\n"},
        {"--log=/nonexistent/l.txt ok.xml", 1,
         "vekhost: cannot write the log file '/nonexistent/l.txt': No such file or directory\n"},
        {"--trace=t.txt -- -h", 1, "vekhost: cannot read configuration '" + d + "-h': No such file or directory\n"},
        {"", 2, "vekhost: no configuration file given\n" + usage},
        {"--trace", 2, "vekhost: option '--trace' needs a value\n" + usage},
        {"--bogus c.xml", 2, "vekhost: unknown option '--bogus'\n" + usage},
        {"a b c", 2, "vekhost: too many arguments ('c')\n" + usage},
    };
    for (const auto& [args, code, reason] : rows) {
        EXPECT_EQ(run(args), code) << reason;
        std::string e = err();
        EXPECT_EQ(e.substr(0, reason.size()), reason);
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), code == 2 ? 2 : 1) << e;
    }

    // Without a tick nothing flushes the trace but the writer: each line
    // is there at once. SIGHUP opens the file again after a rotation.
    pid_t pid = start("--trace trace.txt --status-file st.xml --status-every 1 ok.xml");
    EXPECT_TRUE(traced({"vek_load_config(" + d + "ok.xml)"}));
    fs::rename(dir / "trace.txt", dir / "trace.1");
    kill(pid, SIGHUP);
    EXPECT_TRUE(traced({"vekhost: SIGHUP, trace and log files reopened"}));
    // The live status: to the trace on SIGUSR1, to the file every second.
    kill(pid, SIGUSR1);
    EXPECT_TRUE(traced({"vekhost: status: </status>"}));
    EXPECT_EQ(vek_test::read_text(dir / "st.xml").rfind("<status time=\"", 0), 0u);
    kill(pid, SIGINT);
    EXPECT_EQ(finish(pid), 0);
}

// --check: the clean shop-like layout, then every warning, then every error.
TEST_F(VekhostTest, CheckReportsWhatARunWouldDoAndLoadsNothing)
{
    const std::string d = dir.string() + "/";
    auto check = [&](const std::string& config, const std::string& env, int code) {
        std::ofstream(dir / "c.xml") << config;
        std::ofstream(dir / "app.env") << env;
        EXPECT_EQ(run("--check c.xml app.env"), code) << config << env;
        return vek_test::read_text(dir / "out.txt");
    };
    auto has = [](const std::string& out, const std::vector<std::string>& lines) {
        for (const auto& l : lines) EXPECT_NE(out.find(l + "\n"), std::string::npos) << l << " in\n" << out;
    };
    fs::create_directories(dir / "plugins/p");
    std::ofstream(dir / "plugins/p/start.tcl") << "set plugin_status 1\n";
    const std::string core = "<library path='vek_core' priority='9'/>";
    has(check("<config><variables><variable name='APP_X' value='${VEK_ROOT_PATH}/x'/></variables><libraries>" + core +
                  "<library path='off' priority='-1'/></libraries></config>",
              "VEK_PLUGINS_LIST=p\n", 0),
        {"  variable APP_X = " + d + "x", "  library 'vek_core' (priority 9) loads " VEK_CORE_DIR "/vek_core.so",
         "  library 'off' is never loaded (negative priority)", "  plugin 'p' starts " + d + "plugins/p/start.tcl",
         "vekhost --check: 0 error(s), 0 warning(s)"});
    has(check("<confg>\n<libary/>\n<libraries>\n<library path='vek_core' priority='2x' nam=''/>\n"
              "<library path='gone' ignore_error='1'/></libraries></confg>",
              "", 3),
        {d + "c.xml:1: warning: the root element is 'confg', not 'config'",
         d + "c.xml:2: warning: unknown element 'libary' in 'confg'; it is ignored",
         d + "c.xml:4: warning: unknown attribute 'nam' of 'library'; it is ignored",
         d + "c.xml:4: warning: library 'vek_core': priority '2x' is not a number; read as 2",
         "vekhost --check: 0 error(s), 5 warning(s)"});
    std::ofstream(dir / "text.so") << "text";
    fs::create_directories(dir / "plugins/half");
    std::ofstream(dir / "plugins/half/start.tcl") << "if {1} {\n";
    std::string out = check("<config><libraries>" + core + "<library path='text'/></libraries></config>",
                            "VEK_PLUGINS_LIST=p,half,none\nVEK_SITES_LIST=s\n", 1);
    has(out, {d + "c.xml:1: error: library 'text': " + d + "text.so: not an ELF file",
              d + "app.env: error: plugin 'half': " + d + "plugins/half/start.tcl is not a complete Tcl script",
              d + "app.env: error: plugin 'none': no none/start.tcl under " + d + "plugins",
              d + "app.env: error: site 's': no s/start.tcl under " + d + "sites"});
    EXPECT_NE(out.find(d + "app.env: error: the sites need vek_http: library 'vek_http' not found"), std::string::npos);
    EXPECT_EQ(run("--check c.xml missing.env"), 1);
    has(vek_test::read_text(dir / "out.txt"),
        {d + "missing.env: error: cannot read environment file '" + d + "missing.env': No such file or directory"});
}

#ifdef SHOP_DIR
// The shop example, copied into the scratch directory: started, changed
// while it runs and stopped.
TEST_F(VekhostTest, TheShopStartsItsPluginsAndSiteReloadsItsEnvironmentAndStopsOnSigterm)
{
    fs::copy(SHOP_DIR, dir, fs::copy_options::recursive);
    fs::remove_all(dir / "data");  // left by a run in the source tree
    path += ":" SHOP_MODULE_DIRS;
    pid_t pid = start("--trace trace.txt --log log.txt config.xml shop.env");
    // The first tick after the file is read greets, maybe before the site.
    const std::string init = "vek_init_app('" + (dir / "shop.env").string() + "')";
    EXPECT_TRUE(traced({init, "shop_core: [en] Welcome to the vek shop!"})) << err();
    EXPECT_TRUE(traced({"vek_load_config(" + (dir / "config.xml").string() + ")", "core::load_library(vek_core)", init,
                        "Loading VEK plugin: 'catalog'...", "Loading VEK plugin: 'audit'...",
                        "core::load_library(vek_http)", "Loading VEK site: 'storefront'..."}))
        << err();
    EXPECT_TRUE(fs::exists(dir / "data/catalog.started") && fs::exists(dir / "data/audit.started"));

    // The storefront answers in the language asked for; an order reaches
    // the audit plug-in's record.
    auto ask = [&](const std::string& line, const std::string& headers, const std::string& body = "") {
        std::string a =
            vek_test::talk(http_port, line + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers +
                                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        size_t h1 = a.find("<h1>") + 4;
        return a.substr(0, a.find("\r\n")) + "|" + (h1 < 4 ? "" : a.substr(h1, a.find("</h1>") - h1));
    };
    std::string front;
    EXPECT_TRUE(vek_test::wait_for([&] { return (front = ask("GET /", "")) == "HTTP/1.1 200 OK|Catalogue"; }, 10000))
        << front;
    EXPECT_EQ(ask("GET /product/tea", "Accept-Language: de-DE\r\n"), "HTTP/1.1 200 OK|Gr\xC3\xBCner Tee");
    EXPECT_EQ(ask("POST /order", "Accept-Language: de\r\nContent-Type: application/x-www-form-urlencoded\r\n",
                  "product=mug&quantity=2"),
              "HTTP/1.1 200 OK|Danke f\xC3\xBCr Ihre Bestellung");
    std::string orders = vek_test::read_text(dir / "data/orders.log");
    EXPECT_EQ(orders.substr(std::min<size_t>(20, orders.size())), "mug 2\n");

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
    EXPECT_EQ(vek_test::read_text(dir / "log.txt").substr(21), init + "\n");
}
#endif

}  // namespace
