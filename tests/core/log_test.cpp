#include <gtest/gtest.h>

#include <fcntl.h>

#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

class LogTest : public vek_test::scratch_core_test {
protected:
    // A file's text with each line's time stamp checked and replaced by
    // "|". Both destinations go back to standard output first, which closes
    // the files.
    std::string messages(const char* file)
    {
        vek_set_trace_facility("stdout");
        vek_set_log_facility("stdout");
        static const std::regex stamp(R"((^|\n)\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}: )");
        return std::regex_replace(vek_test::read_text(root / file), stamp, "$1|");
    }
};

TEST_F(LogTest, LinesHaveExactTextsGoWhereLevelAndSwitchSayAndUnusableFacilitiesChangeNothing)
{
    // A file is appended to; leaving standard error does not close it.
    std::ofstream(root / "trace.txt") << "2026/01/01 00:00:00: existing\n";
    vek_set_trace_facility("stderr");
    vek_set_trace_facility("trace.txt");
    EXPECT_NE(fcntl(2, F_GETFD), -1);
    EXPECT_EQ(vek_get_trace_facility(), root.string() + "/trace.txt");

    // A file that cannot be opened keeps its name and drops the log's lines;
    // a null name, or one that cannot be resolved, changes nothing.
    vek_set_log_facility("no/such/dir/log.txt");
    EXPECT_EQ(vek_get_log_facility(), root.string() + "/no/such/dir/log.txt");
    vek_log(0, "dropped");
    vek_set_log_facility("log.txt");
    vek_set_log_facility(nullptr);
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));
    vek_set_log_facility("a/../b.txt");  // cannot be resolved without the string service
    EXPECT_EQ(vek_get_log_facility(), root.string() + "/log.txt");

    vek_trace("hello %d %s", 42, "world");
    vek_trace("%s", std::string(2000, 'm').c_str());
    vek_log(0, "zero");
    vek_log(1, "one-hidden");
    vek_set_log_level(1);
    vek_log(1, "one");
    vek_enable_trace(false);
    vek_log(0, "untraced");
    vek_trace("nothing");
    vek_enable_trace(true);
    // Each temporary ends with its statement: locked, and with count -1.
    vek::mutex().lock();
    vek_test::probe().release();
    vek_enable_trace(false);  // keeps the shutdown's own lines out
    vek_terminate();          // closes the files, keeps the names
    EXPECT_EQ(vek_get_log_facility(), root.string() + "/log.txt");
    vek_log(0, "after");
    EXPECT_EQ(messages("log.txt"), "|zero\n|one\n|untraced\n");
    // The long line is 1023 bytes with its stamp and newline.
    EXPECT_EQ(messages("trace.txt"), "|existing\n|dropped\n|hello 42 world\n|" + std::string(1023 - 21 - 1, 'm') +
                                         "\n|zero\n|one-hidden\n|one\n|warning: destroying locked mutex\n"
                                         "|WARNING: Destroying object with non zero reference count value: -1.\n");
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave)
{
    vek_set_trace_facility("mt.txt");
    std::vector<std::thread> threads;
    for (char c = 'a'; c < 'a' + 8; ++c) {
        threads.emplace_back([c] {
            for (int i = 0; i < 500; ++i) vek_trace("%s", std::string(200, c).c_str());
        });
    }
    for (auto& t : threads) t.join();
    std::string text = messages("mt.txt");
    ASSERT_EQ(text.size(), 4000u * 202);
    for (std::size_t at = 0; at < text.size(); at += 202) {
        ASSERT_EQ(text.substr(at, 202), "|" + std::string(200, text[at + 1]) + "\n") << "line " << at / 202;
    }
}
