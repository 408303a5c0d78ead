#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include <fcntl.h>
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

    // The trace file's lines without their time stamps.
    lines trace()
    {
        std::istringstream in(vek_test::read_text(dir / "trace.txt"));
        lines out;
        for (std::string line; std::getline(in, line);) out.push_back(line.size() > 21 ? line.substr(21) : line);
        return out;
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

    const lines expected = {
        "vek_load_config(" + config + ")", "core::load_library(vek_core)", loaded, "vek_terminate()",
        "core: releasing services...",     "core: services released."};
    lines t = trace();
    auto at = t.begin();
    for (const std::string& want : expected) {
        at = std::find(at, t.end(), want);
        ASSERT_NE(at, t.end()) << "missing or out of order: " << want;
    }
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

}  // namespace
