#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "test_support.h"

namespace {

typedef std::vector<std::string> lines;

class ConfigTest : public vek_test::scratch_core_test {
protected:
    void SetUp() override
    {
        scratch_core_test::SetUp();
        vek_set_trace_facility("trace.txt");
    }

    void write(const char* name, const std::string& text) { std::ofstream(root / name) << text; }

    // Ends the file trace and returns its lines without the time stamps.
    lines trace()
    {
        vek_set_trace_facility("stdout");
        std::istringstream in(vek_test::read_text(root / "trace.txt"));
        lines out;
        for (std::string line; std::getline(in, line);) out.push_back(line.size() > 21 ? line.substr(21) : line);
        return out;
    }

    // The paths handed to load_library, in order.
    lines loads()
    {
        const std::string prefix = "core::load_library(";
        lines out;
        for (const std::string& line : trace()) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                out.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
            }
        }
        return out;
    }

    // A configuration of libraries that do not exist and may fail.
    static std::string optional_libraries(const std::string& elements)
    {
        return "<c><libraries>" + elements + "</libraries></c>";
    }
    static std::string lib(const std::string& path, const std::string& attrs)
    {
        return "<library path='" + path + "' ignore_error='1' " + attrs + "/>";
    }
};

TEST_F(ConfigTest, UnreadableFilesAndMissingServicesGiveFalseAndTraceOnlyTheCall)
{
    write("empty.xml", "");
    write("broken.xml", "<c><libraries><library path='x'></c>");
    write("text.xml", "not xml at all");
    write("ok.xml", "<c/>");
    EXPECT_FALSE(vek_load_config("missing.xml"));
    EXPECT_FALSE(vek_load_config("empty.xml"));
    EXPECT_FALSE(vek_load_config("${VEK_ROOT_PATH}/broken.xml"));
    EXPECT_FALSE(vek_load_config("text.xml"));
    EXPECT_FALSE(vek_load_config(nullptr));
    EXPECT_TRUE(vek_load_config("ok.xml"));
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));
    EXPECT_FALSE(vek_load_config("ok.xml"));
    EXPECT_EQ(trace(), (lines{"vek_load_config(missing.xml)", "vek_load_config(empty.xml)",
                              "vek_load_config(${VEK_ROOT_PATH}/broken.xml)", "vek_load_config(text.xml)",
                              "vek_load_config((null))", "vek_load_config(ok.xml)", "vek_load_config(ok.xml)"}));
}

TEST_F(ConfigTest, MissingAttributesReadAsEmptyOrZero)
{
    // The valueless variable is set to "", the nameless one is skipped with
    // a trace line; the pathless library of priority "high" (0) fails
    // without ignore_error. A priority beyond int is an error, not "never":
    // skipped with ignore_error, else nothing loads.
    write("c.xml",
          "<c><variables><variable name='CFG_EMPTY'/><variable value='x'/></variables>"
          "<libraries><library priority='3' ignore_error='1'/><library name='n' priority='high'/>"
          "<library path='never' priority='-1'/>" +
              lib("big", "priority='99999999999'") + "</libraries></c>");
    write("d.xml", optional_libraries(lib("ok", "priority='1'") + "<library path='low' priority='-2147483649'/>"));
    EXPECT_FALSE(vek_load_config("c.xml"));
    EXPECT_FALSE(vek_load_config("d.xml"));
    ASSERT_NE(std::getenv("CFG_EMPTY"), nullptr);
    EXPECT_STREQ(std::getenv("CFG_EMPTY"), "");
    EXPECT_EQ(trace(), (lines{"vek_load_config(c.xml)", "vek_load_config(c.xml): variable '' not set: invalid name",
                              "vek_load_config(c.xml): library 'big': priority '99999999999' is out of range",
                              "vek_load_config(d.xml)",
                              "vek_load_config(d.xml): library 'low': priority '-2147483649' is out of range"}));
}

TEST_F(ConfigTest, VariablesAreSetInOrderWithoutALibrariesElement)
{
    const std::string r = root.string();
    write("v.xml",
          "<c><variables>"
          "<variable name='CFG_A' value='${VEK_ROOT_PATH}/dir'/>"
          "<variable name='CFG_B' value='${CFG_A}/sub'/>"
          "<variable name='CFG_P' value='rel/../x' type='path'/>"
          "<variable name='CFG_Q' value='rel/x' type='PATH'/>"
          "<variable name='CFG_L' value='linux' platform='LiNuX'/>"
          "<variable name='CFG_L' value='win' platform='win32'/>"
          "<variable name='CFG_A' value='${CFG_A}2' platform=''/>"
          "</variables></c>");
    EXPECT_TRUE(vek_load_config("v.xml"));
    EXPECT_EQ(std::string(std::getenv("CFG_A")), r + "/dir2");
    EXPECT_EQ(std::string(std::getenv("CFG_B")), r + "/dir/sub");
    EXPECT_EQ(std::string(std::getenv("CFG_P")), r + "/x");
    EXPECT_STREQ(std::getenv("CFG_Q"), "rel/x");
    EXPECT_STREQ(std::getenv("CFG_L"), "linux");
}

TEST_F(ConfigTest, LibrariesLoadByDescendingPriorityOnThisPlatform)
{
    write("p.xml", optional_libraries(lib("five_a", "priority='5'") + lib("ten", "priority='10'") +
                                      lib("five_b", "priority='5'") + lib("off", "priority='-1'") +
                                      lib("caps", "priority='7' platform='LINUX'") +
                                      lib("win", "priority='99' platform='win32'") +
                                      lib("longer", "priority='50' platform='linux64'") + lib("zero", "") +
                                      // A second "libraries" element loads once, without a hang.
                                      "</libraries><libraries>" + lib("second", "priority='1'")));
    EXPECT_TRUE(vek_load_config("p.xml"));
    EXPECT_EQ(loads(), (lines{"ten", "caps", "five_a", "five_b", "second", "zero"}));
}

TEST_F(ConfigTest, RequiredFailureStopsAndKeepsWhatLoaded)
{
    const std::string full = std::string(VEK_TEST_MODULE_DIR) + "/mod_full";
    write("f.xml", "<c><libraries><library path='" + full + "' priority='9'/>" + lib("optional", "priority='8'") +
                       "<library path='required' priority='7'/>" + lib("lower", "priority='6'") + "</libraries></c>");
    EXPECT_FALSE(vek_load_config("f.xml"));
    EXPECT_EQ(loads(), (lines{full, "optional", "required"}));
    EXPECT_TRUE(vek_library_loaded("mod_full"));
}

TEST_F(ConfigTest, ThousandRandomPrioritiesLoadInOrder)
{
    std::mt19937 gen(20240607);
    std::uniform_int_distribution<int> priority(-3, 40);
    std::vector<std::pair<int, std::string>> libs;
    std::string elements;
    for (int i = 0; i < 1000; ++i) {
        libs.emplace_back(priority(gen), "lib" + std::to_string(i));
        elements += lib(libs.back().second, "priority='" + std::to_string(libs.back().first) + "'");
    }
    write("many.xml", optional_libraries(elements));
    std::stable_sort(libs.begin(), libs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    lines expected;
    for (const auto& l : libs) {
        if (l.first >= 0) expected.push_back(l.second);
    }
    EXPECT_TRUE(vek_load_config("many.xml"));
    EXPECT_EQ(loads(), expected);
}

}  // namespace
