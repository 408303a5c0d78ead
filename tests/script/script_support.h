// A core whose library was loaded through load_library, so every script
// engine has the package "vek_core"; rooted in a scratch directory, with the
// trace and the log written to files there.
#ifndef VEK_TESTS_SCRIPT_SCRIPT_SUPPORT_H
#define VEK_TESTS_SCRIPT_SCRIPT_SUPPORT_H

#include <sys/stat.h>
#include <tcl.h>

#include <fcntl.h>

#include <fstream>
#include <sstream>

#include "test_support.h"

namespace vek_test {

typedef std::vector<std::string> lines;
typedef std::vector<int> ints;

class script_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        quiet_trace();
        for (const char* name : {"VEK_PLUGINS_ROOT", "VEK_SITES_ROOT", "VEK_PLUGINS_LIST", "VEK_SITES_LIST"})
            unsetenv(name);
        std::filesystem::create_directories(root);
        setenv("VEK_ROOT_PATH", root.c_str(), 1);
        ASSERT_TRUE(vek_initialize());
        ASSERT_NE(vek_core()->load_library(VEK_CORE_SO), nullptr);
        vek_enable_trace(true);
        fresh();  // opens both files
        ASSERT_NE(svc = vek_cast_i_script_service(vek_core()->get_service("svc_script")), nullptr);
        ASSERT_NE(enc = vek_cast_i_encryptor(vek_core()->get_service("svc_encrypt")), nullptr);
    }
    void TearDown() override
    {
        vek_release(e);
        vek_release(enc);
        vek_release(svc);
        quiet_trace();
        vek_set_trace_facility("stdout");  // closes the file
        vek_terminate();
        std::filesystem::remove_all(root);
    }
    // (Again) the calling thread's engine as `e`, held until the test ends;
    // the one held before is given back first (its last user recycles it).
    void take_engine()
    {
        vek_release(e);
        ASSERT_NE(e = svc->get_script_engine(), nullptr);
    }
    // Writes `text` to root/name, directories and all, and sets its
    // modification time.
    std::string write(const std::string& name, const std::string& text, time_t mtime = 1000000)
    {
        std::filesystem::create_directories((root / name).parent_path());
        std::ofstream(root / name, std::ios::binary) << text;
        timespec times[2] = {{mtime, 0}, {mtime, 0}};
        utimensat(AT_FDCWD, (root / name).c_str(), times, 0);
        return (root / name).string();
    }
    // What was written to `file` ("trace.txt" or "log.txt") since the last
    // call, without time stamps. Opening the files again flushes them.
    lines fresh(const char* file = "trace.txt")
    {
        vek_set_trace_facility((root / "trace.txt").c_str());
        vek_set_log_facility((root / "log.txt").c_str());
        std::istringstream in(read_text(root / file));
        std::filesystem::resize_file(root / file, 0);  // appends go on at the new end
        lines out;
        for (std::string line; std::getline(in, line);) out.push_back(line.substr(21));
        return out;
    }

    const std::filesystem::path root = scratch_path("vek_script");
    vek::i_script_service* svc = nullptr;
    vek::i_script_engine* e = nullptr;
    vek::i_encryptor* enc = nullptr;

private:
    env_guard m_env{"VEK_ROOT_PATH",  "VEK_SCRIPT_PATH",  "NET_IO_SCRIPT_PATH", "VEK_PLUGINS_ROOT",
                    "VEK_SITES_ROOT", "VEK_PLUGINS_LIST", "VEK_SITES_LIST",     "PATH"};
};

// The engine's own text for a Tcl expression's value, or "<error>".
inline std::string tcl_value(vek::i_script_engine* e, const std::string& expr)
{
    e->reset();
    if (!e->execute_text(("puts " + expr).c_str())) return "<error>";
    return e->get_output();
}

}  // namespace vek_test

#endif
