#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// The lines of a file, each without its time prefix (checked here).
std::vector<std::string> messages(const fs::path& p)
{
    std::string text = vek_test::read_text(p);
    static const std::regex prefix(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}: )");
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = text.substr(start, nl - start);
        EXPECT_TRUE(std::regex_search(line, prefix)) << line;
        out.push_back(line.substr(21));
    }
    EXPECT_EQ(start, text.size()) << "text does not end with a newline";
    return out;
}

class LogTest : public vek_test::scratch_core_test {
protected:
    // Closes the files so their contents can be read.
    void close_files()
    {
        vek_set_trace_facility("stdout");
        vek_set_log_facility("stdout");
    }
};

}  // namespace

TEST_F(LogTest, LinesCarryTheTimePrefixAndAreCutAt1023Bytes)
{
    vek_set_trace_facility("trace.txt");
    EXPECT_EQ(vek_get_trace_facility(), root.string() + "/trace.txt");
    vek_trace("hello %d %s", 42, "world");
    vek_trace("%s", std::string(2000, 'm').c_str());
    close_files();
    std::vector<std::string> lines = messages(root / "trace.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "hello 42 world");
    EXPECT_EQ(lines[1], std::string(1023 - 1 - 21, 'm'));  // 1023 bytes with prefix and newline
}

TEST_F(LogTest, LevelsAndTheTraceSwitchDecideTheDestinations)
{
    vek_set_trace_facility("trace.txt");
    vek_set_log_facility("log.txt");
    vek_log(0, "zero");
    vek_log(1, "one-hidden");
    vek_set_log_level(1);
    vek_log(1, "one");
    vek_enable_trace(false);
    vek_log(0, "untraced");
    vek_trace("nothing");
    vek_enable_trace(true);
    close_files();
    EXPECT_EQ(messages(root / "log.txt"), (std::vector<std::string>{"zero", "one", "untraced"}));
    EXPECT_EQ(messages(root / "trace.txt"), (std::vector<std::string>{"zero", "one-hidden", "one"}));
}

TEST_F(LogTest, FacilitiesAppendAndNeverCloseStandardStreams)
{
    std::ofstream(root / "t.txt") << "2026/01/01 00:00:00: existing\n";
    vek_set_trace_facility("stderr");
    vek_set_trace_facility("t.txt");
    vek_trace("appended");
    vek_set_trace_facility("stderr");
    vek_set_trace_facility("stdout");
    EXPECT_NE(fcntl(2, F_GETFD), -1);  // standard error was never closed
    EXPECT_EQ(messages(root / "t.txt"), (std::vector<std::string>{"existing", "appended"}));

    vek_set_log_facility("STDOUT");  // a file name, not the stream
    EXPECT_EQ(vek_get_log_facility(), root.string() + "/STDOUT");
    vek_log(0, "x");
    close_files();
    EXPECT_TRUE(fs::exists(root / "STDOUT"));
}

TEST_F(LogTest, UnusableFacilitiesDropLinesOrChangeNothing)
{
    vek_set_log_facility("no/such/dir/log.txt");
    EXPECT_EQ(vek_get_log_facility(), root.string() + "/no/such/dir/log.txt");
    vek_log(0, "dropped");
    vek_set_log_facility("log.txt");
    vek_set_log_facility(nullptr);
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));
    vek_set_log_facility("a/../b.txt");  // cannot be resolved without the string service
    EXPECT_EQ(vek_get_log_facility(), root.string() + "/log.txt");
    vek_log(0, "kept");
    vek_set_trace_facility("stdout");
    vek_terminate();  // closes the file, keeps the name
    EXPECT_EQ(vek_get_log_facility(), root.string() + "/log.txt");
    vek_log(0, "after");
    EXPECT_EQ(messages(root / "log.txt"), (std::vector<std::string>{"kept"}));
    ASSERT_TRUE(vek_initialize());
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
    std::vector<std::string> lines = messages(root / "mt.txt");
    ASSERT_EQ(lines.size(), 4000u);
    for (const std::string& body : lines) {
        ASSERT_EQ(body.size(), 200u);
        ASSERT_EQ(body.find_first_not_of(body[0]), std::string::npos);
    }
}

TEST_F(LogTest, ObjectAndMutexWarningsUseTheirTexts)
{
    vek_set_trace_facility("w.txt");
    {
        vek_test::probe obj;
        obj.release();  // count -1; its scope ends it
        vek::mutex m;
        m.lock();
    }
    close_files();
    EXPECT_EQ(messages(root / "w.txt"),
              (std::vector<std::string>{"warning: destroying locked mutex",
                                        "WARNING: Destroying object with non zero reference count value: -1."}));
}
