// Loaded modules' Tcl extensions and init scripts reaching the engines.
#include "script/script_support.h"

namespace {

using vek_test::tcl_value;

class ScriptModuleTest : public vek_test::script_test {
protected:
    // The init commands and files added since SetUp, as "cmd:" and "file:"
    // lines.
    std::string added()
    {
        vek::script_service* s = vek_cast_script_service(svc_obj);
        std::string out;
        auto list = [&](vek::i_object_col* col, const char* kind, unsigned int from) {
            for (unsigned int i = from; i < col->get_count(); ++i) {
                vek::i_object* item = col->get_item_by_pos(i);
                out += std::string(kind) + vek_cast_i_string(item)->get_value() + "\n";
                item->release();
            }
        };
        list(s->init_cmds(), "cmd:", 1);  // the first is the library's own
        list(s->init_files(), "file:", 0);
        return out;
    }
    std::string dir(const std::string& name)
    {
        std::filesystem::create_directories(root / name);
        return (root / name).string();
    }
    static std::string module(const char* name) { return std::string(VEK_TEST_MODULE_DIR "/") + name + ".so"; }
};

TEST_F(ScriptModuleTest, NetIoGetsItsLoadCommandAndTheFirstInitFileFound)
{
    std::string own = dir("own"), common = dir("common");
    write("own/net_io_init.tcl", "set ::from own");
    write("common/net_io_init.tcl", "set ::from common");
    setenv("NET_IO_SCRIPT_PATH", own.c_str(), 1);
    setenv("VEK_SCRIPT_PATH", common.c_str(), 1);
    ASSERT_NE(vek_core()->load_library(module("mod_net_io").c_str()), nullptr);
    EXPECT_EQ(added(), "cmd:load \"" + module("mod_net_io") + "\" \"net_io\"\nfile:" + own + "/net_io_init.tcl\n");
    vek::i_script_engine* e = svc->get_script_engine();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(tcl_value(e, "$::net_io_loaded/$::from"), "1/own");
    e->release();
}

TEST_F(ScriptModuleTest, WithoutItsOwnPathTheCommonScriptPathIsUsed)
{
    std::string common = dir("common");
    write("common/net_io_init.tcl", "set ::from common");
    setenv("VEK_SCRIPT_PATH", common.c_str(), 1);
    unsetenv("NET_IO_SCRIPT_PATH");
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_no_init").c_str()), nullptr);
    EXPECT_EQ(added(), "file:" + common + "/net_io_init.tcl\n");  // no init function: no load
}

TEST_F(ScriptModuleTest, ModulesWithoutAUsableNameAddNothing)
{
    vek_enable_trace(true);
    vek_set_trace_facility("trace.txt");
    std::string common = dir("common");
    write("common/net_io_init.tcl", "set ::from common");
    setenv("VEK_SCRIPT_PATH", common.c_str(), 1);
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_anon").c_str()), nullptr);
    ASSERT_NE(vek_core()->load_library(module("mod_net_io_long").c_str()), nullptr);
    EXPECT_EQ(added(), "");
    vek_set_trace_facility("stdout");
    EXPECT_NE(vek_test::read_text(root / "trace.txt")
                  .find(": script_service: library name too long (300 bytes), no scripts added\n"),
              std::string::npos);
}

TEST_F(ScriptModuleTest, OddDirectoryAndFileNamesAreQuotedForTcl)
{
    std::string odd = dir("a b\\c $d [e]");
    std::string copy = odd + "/NetIO2.so";  // Tcl alone would look for Netio_Init
    std::filesystem::copy_file(module("mod_net_io"), copy);
    vek_test::env_guard env{"PATH"};
    setenv("PATH", odd.c_str(), 1);  // found through PATH, where the name stays as written
    ASSERT_NE(vek_core()->load_library("NetIO2.so"), nullptr);
    EXPECT_EQ(added(), "cmd:load \"" + root.string() + "/a b\\\\c \\$d \\[e\\]/NetIO2.so\" \"net_io\"\n");
    vek::i_script_engine* e = svc->get_script_engine();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(tcl_value(e, "$::net_io_loaded"), "1");
    e->release();
}

}  // namespace
