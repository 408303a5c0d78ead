#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::string read_all(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    EXPECT_EQ(start, text.size()) << "text does not end with a newline";
    return lines;
}

// Brings up a core rooted in a scratch directory so facility file names
// resolve there.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = vek_test::scratch_path("vek_log");
        fs::create_directories(root);
        setenv("VEK_ROOT_PATH", root.c_str(), 1);
        vek_enable_trace(true);
        vek_set_log_level(0);
        ASSERT_TRUE(vek_initialize());
    }
    void TearDown() override
    {
        vek_set_trace_facility("stdout");
        vek_terminate();
        fs::remove_all(root);
        unsetenv("VEK_ROOT_PATH");
    }
    // Closes the files (as shutdown does) so their contents can be read.
    void close_files()
    {
        vek_set_trace_facility("stdout");
        vek_set_log_facility("stdout");
    }
    fs::path root;
};

const std::regex k_prefix(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}: )");

}  // namespace

TEST_F(LogTest, LinesCarryTheTimePrefixAndAreCutAt1023Bytes)
{
    vek_set_trace_facility("trace.txt");
    EXPECT_EQ(std::string(vek_get_trace_facility()), root.string() + "/trace.txt");
    std::string big(2000, 'm');
    vek_trace("hello %d %s", 42, "world");
    vek_trace("%s", big.c_str());
    vek_trace("%s", "");
    close_files();

    std::string text = read_all(root / "trace.txt");
    std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_search(lines[0], k_prefix));
    EXPECT_EQ(lines[0].substr(21), "hello 42 world");
    EXPECT_EQ(lines[1].size() + 1, 1023u);
    EXPECT_EQ(lines[1].substr(21), std::string(1023 - 1 - 21, 'm'));
    EXPECT_EQ(lines[2].size(), 21u);
}

TEST_F(LogTest, LevelsDecideWhatReachesTheLogFile)
{
    vek_set_trace_facility("trace.txt");
    vek_set_log_facility("log.txt");
    vek_log(0, "zero");
    vek_log(1, "one-hidden");
    vek_set_log_level(1);
    vek_log(1, "one");
    vek_log(2, "two-hidden");
    vek_enable_trace(false);
    vek_log(0, "untraced");
    vek_trace("nothing");
    vek_enable_trace(true);
    close_files();

    std::string log = read_all(root / "log.txt");
    std::string trace = read_all(root / "trace.txt");
    std::vector<std::string> log_lines = lines_of(log);
    ASSERT_EQ(log_lines.size(), 3u);
    EXPECT_EQ(log_lines[0].substr(21), "zero");
    EXPECT_EQ(log_lines[1].substr(21), "one");
    EXPECT_EQ(log_lines[2].substr(21), "untraced");
    // Every vek_log reaches the trace while tracing is on, whatever its level.
    std::vector<std::string> trace_lines = lines_of(trace);
    ASSERT_EQ(trace_lines.size(), 4u);
    EXPECT_EQ(trace_lines[1].substr(21), "one-hidden");
    EXPECT_EQ(trace_lines[3].substr(21), "two-hidden");
}

TEST_F(LogTest, FacilitiesAppendAndNeverCloseStandardStreams)
{
    {
        std::ofstream pre(root / "t.txt");
        pre << "existing\n";
    }
    vek_set_trace_facility("stderr");
    EXPECT_STREQ(vek_get_trace_facility(), "stderr");
    vek_set_trace_facility("t.txt");
    vek_trace("appended");
    vek_set_trace_facility("stderr");
    vek_set_trace_facility("stdout");
    // The standard error stream was never closed.
    EXPECT_NE(fcntl(2, F_GETFD), -1);
    std::vector<std::string> lines = lines_of(read_all(root / "t.txt"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "existing");
    EXPECT_EQ(lines[1].substr(21), "appended");

    // A standard stream's name in capitals is a file name.
    vek_set_log_facility("STDOUT");
    EXPECT_EQ(std::string(vek_get_log_facility()), root.string() + "/STDOUT");
    vek_log(0, "to a file called STDOUT");
    close_files();
    EXPECT_TRUE(fs::exists(root / "STDOUT"));
}

TEST_F(LogTest, UnopenableFileDropsLinesButKeepsTheName)
{
    vek_set_log_facility("no/such/dir/log.txt");
    EXPECT_EQ(std::string(vek_get_log_facility()), root.string() + "/no/such/dir/log.txt");
    vek_log(0, "dropped");
    vek_set_log_facility(nullptr);
    EXPECT_EQ(std::string(vek_get_log_facility()), root.string() + "/no/such/dir/log.txt");
    // A path that cannot be resolved leaves name and file alone.
    vek_set_log_facility("log.txt");
    vek_set_log_facility("a/../b.txt");  // needs the string service, absent here
    EXPECT_EQ(std::string(vek_get_log_facility()), root.string() + "/log.txt");
    vek_log(0, "kept");
    close_files();
    std::vector<std::string> lines = lines_of(read_all(root / "log.txt"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(21), "kept");
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave)
{
    vek_set_trace_facility("mt.txt");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            std::string body(200, static_cast<char>('a' + t));
            for (int i = 0; i < 500; ++i) vek_trace("%s", body.c_str());
        });
    }
    for (auto& t : threads) t.join();
    close_files();
    std::vector<std::string> lines = lines_of(read_all(root / "mt.txt"));
    ASSERT_EQ(lines.size(), 4000u);
    for (const std::string& line : lines) {
        std::string body = line.substr(21);
        ASSERT_EQ(body.size(), 200u);
        ASSERT_EQ(body.find_first_not_of(body[0]), std::string::npos);
    }
}

TEST_F(LogTest, WarningsOfObjectsAndMutexesUseTheirExactTexts)
{
    vek_set_trace_facility("w.txt");
    {
        struct plain : vek::object {
        } obj;
        obj.release();  // count -1; its scope ends it
    }
    {
        vek::mutex m;
        m.lock();
    }
    close_files();
    std::vector<std::string> lines = lines_of(read_all(root / "w.txt"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(21), "WARNING: Destroying object with non zero reference count value: -1.");
    EXPECT_EQ(lines[1].substr(21), "warning: destroying locked mutex");
}

TEST_F(LogTest, TerminateClosesFilesButKeepsNames)
{
    vek_set_log_facility("end.txt");
    vek_log(0, "before");
    vek_set_trace_facility("stdout");
    vek_terminate();
    EXPECT_EQ(std::string(vek_get_log_facility()), root.string() + "/end.txt");
    vek_log(0, "after");  // no destination any more
    EXPECT_EQ(lines_of(read_all(root / "end.txt")).size(), 1u);
    ASSERT_TRUE(vek_initialize());
}
