#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Stands in for the string service: the text unchanged, or null for texts
// holding "FAIL".
class echo_proc : public vek::object, public vek::i_string_proc {
public:
    char* process(const char* src, vek::i_var_subst*) override
    {
        return std::strstr(src, "FAIL") != nullptr ? nullptr : strdup(src);
    }
    vek::i_object_col_x* get_global_var_substs() override { return nullptr; }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_string_proc") != 0) return object::get_interface(iface_name, pp_obj);
        *pp_obj = static_cast<vek::i_string_proc*>(this);
        return true;
    }
};

std::string resolve(const char* path)
{
    char* abs = vek_get_absolute_path(path);
    std::string result = abs != nullptr ? abs : "(null)";
    std::free(abs);
    return result;
}

}  // namespace

TEST(PathTest, ResolvesAgainstTheRoot)
{
    vek_test::quiet_trace();
    vek_test::env_guard env({"VEK_ROOT_PATH"});
    setenv("VEK_ROOT_PATH", "/app", 1);
    EXPECT_EQ(resolve("x"), "(null)");  // no core
    ASSERT_TRUE(vek_initialize());
    // Replaced below by a stand-in that can be made to fail.
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));

    EXPECT_EQ(resolve("conf/x.xml"), "/app/conf/x.xml");
    EXPECT_EQ(resolve("conf\\x.xml"), "/app/conf\\x.xml");
    EXPECT_EQ(resolve("\\etc\\x"), "/etc/x");
    EXPECT_EQ(resolve("D:\\data\\y"), "/app/D:\\data\\y");  // no drives here
    EXPECT_EQ(resolve(nullptr), "(null)");
    EXPECT_EQ(resolve("conf/../x"), "(null)");  // needs the string service

    ASSERT_TRUE(vek_core()->register_service(new echo_proc(), "svc_string"));
    EXPECT_EQ(resolve("conf/../log/./a.txt"), "/app/log/a.txt");
    EXPECT_EQ(resolve("/etc/../x"), "/x");
    EXPECT_EQ(resolve("a/b/../c/"), "/app/a/c");
    EXPECT_EQ(resolve("a//b/../c"), "/app/a//c");
    EXPECT_EQ(resolve("\"a\"\\b\\..\\\"c d\""), "/app/a/c d");
    // Past the root the leading empty component goes too; a first ".." stays.
    EXPECT_EQ(resolve("../../x"), "x");
    EXPECT_EQ(resolve("../../../x"), "../x");
    EXPECT_EQ(resolve("FAIL/.."), "(null)");
    setenv("VEK_ROOT_PATH", "/srv/x/../app", 1);
    EXPECT_EQ(resolve("conf"), "/srv/app/conf");

    unsetenv("VEK_ROOT_PATH");
    EXPECT_EQ(resolve("x"), "(null)");
    vek_terminate();
}

TEST(PathTest, ExistenceTestsTellDirectoriesFromFiles)
{
    fs::path dir = vek_test::scratch_path("vek_path");
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "file.txt") << "x";
    std::string d = (dir / "sub").string();
    std::string f = (dir / "file.txt").string();

    EXPECT_TRUE(vek_dir_exists((d + "\\/").c_str()));
    EXPECT_FALSE(vek_file_exists(d.c_str()));
    EXPECT_TRUE(vek_file_exists(f.c_str()));
    EXPECT_FALSE(vek_dir_exists(f.c_str()));
    EXPECT_TRUE(vek_dir_exists("/"));
    EXPECT_FALSE(vek_file_exists((dir / "missing").c_str()));
    EXPECT_FALSE(vek_dir_exists(nullptr));
    EXPECT_FALSE(vek_file_exists(""));
    fs::remove_all(dir);
}
