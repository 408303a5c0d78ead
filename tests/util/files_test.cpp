// Whole files, directories, and the resolution of names against the root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <tuple>

#include "test_support.h"

namespace fs = std::filesystem;

// Takes over a heap text: the text, "(null)" for null.
static std::string take(char* text)
{
    std::unique_ptr<char, decltype(&std::free)> held(text, std::free);
    return text != nullptr ? text : "(null)";
}

// The bytes of a binary file read whole ("(null)" when it is not read);
// checks that the caller holds the only reference and gives it up.
static std::string take(vek::i_binary* bin)
{
    if (bin == nullptr) return "(null)";
    std::string bytes(static_cast<const char*>(bin->get_data()), bin->get_data_size());
    EXPECT_EQ(bin->release(), 0);
    return bytes;
}

// The item texts, sorted and joined by blanks ("(null)" for null); checks
// that the caller holds the only reference and gives it up.
static std::string texts(vek::i_object_col* col)
{
    if (col == nullptr) return "(null)";
    std::multiset<std::string> names;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        auto_ptr_t<vek::i_object> item = col->get_item_by_pos(i);
        EXPECT_EQ(vek_test::count_of(item), 2);  // the collection's and ours
        names.insert(vek_cast_i_string(item)->get_value());
    }
    EXPECT_EQ(col->release(), 0);
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    return joined;
}

const std::string long_name(4000, 'n');

class FilesTest : public vek_test::scratch_core_test {
protected:
    std::string at(const std::string& rel) { return (root / rel).string(); }
};

TEST_F(FilesTest, ReadAndWriteRoundTrip)
{
    // Text reads fold each CR LF into LF (the file keeps it); a lone CR stays.
    ASSERT_TRUE(vek_write_file("a.txt", "a\rb\r\n") && vek_write_file("a.txt", "\r", true));
    EXPECT_EQ(take(vek_read_file("a.txt")) + "|" + take(vek_read_binary_file("a.txt")), "a\rb\n\r|a\rb\r\n\r");
    ASSERT_TRUE(vek_write_file("a.txt", ""));
    EXPECT_EQ(take(vek_read_file("a.txt")) + take(vek_read_binary_file("a.txt")), "");
    const char bytes[] = {'x', '\0', 'y', '\r', '\n', '\0'};
    ASSERT_TRUE(vek_write_binary_file("bin", bytes, sizeof bytes) && vek_write_binary_file("bin", bytes, 2, true));
    EXPECT_EQ(take(vek_read_binary_file("bin")), std::string(bytes, sizeof bytes) + std::string("x\0", 2));

    for (const char* bad : {"nodir/x.txt", ".", long_name.c_str(), "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(take(vek_read_file(bad)) + take(vek_read_binary_file(bad)), "(null)(null)");
        EXPECT_FALSE(vek_write_file(bad, "x"));
    }
    EXPECT_FALSE(vek_write_file("n", nullptr) || vek_write_binary_file("n", nullptr, 3) || fs::exists(root / "n"));
}

// A full disk (a file size limit fails writes the same way) and a writer
// killed halfway: the old contents stay whole, the failing calls say false,
// no scratch is left.
TEST_F(FilesTest, FailedOrKilledWritesLeaveTheOldFileWhole)
{
    const std::string target = at("a"), fresh(50 << 20, 'n');
    auto entries = [&] { return std::distance(fs::directory_iterator(root), fs::directory_iterator()); };
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    rlimit limit{256 * 1024, unlimited.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_TRUE(vek_write_file("a", "old\n"));
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(vek_write_file("a", fresh.c_str()));
    EXPECT_FALSE(vek_write_binary_file("a", fresh.data(), static_cast<unsigned int>(fresh.size()), true));
    setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_EQ(take(vek_read_file("a")) + std::to_string(entries()), "old\n1");

    pid_t child = fork();
    if (child == 0) _exit(vek_write_file("a", fresh.c_str()) ? 0 : 1);
    // Kill it as soon as the write shows: a changed size or a scratch file.
    vek_test::wait_for([&] { return fs::file_size(target) != 4 || entries() > 1; });
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::string after = vek_test::read_text(target);
    EXPECT_TRUE(after == "old\n" || after == fresh) << after.size() << " bytes";
}

TEST_F(FilesTest, ScanDirAndSplitPathFilterByTypeAndPattern)
{
    fs::create_directories(root / "s/c.txt");
    for (const char* name : {"s/a.txt", "s/b.txt", "s/ab.txt", "s/x.txt", "s/[x].txt", "s/d.log"})
        vek_write_file(name, "x");
    // A directory, a pattern (brackets are ordinary characters), a type (1
    // files, 2 directories, 0 or 3 both; never "." or "..") and the names.
    const std::string s = at("s");
    // clang-format off
    const std::tuple<const char*, const char*, int, std::string> rows[] = {
        {"s", "?.txt", 1, "a.txt b.txt x.txt"}, {"s", "*", 2, "c.txt"}, {"s", "[x]*", 0, "[x].txt"},
        {s.c_str(), "*.txt", 3, "[x].txt a.txt ab.txt b.txt c.txt x.txt"}, {".", "s/*.log", 1, "d.log"},
        {"missing", "*", 0, ""}, {nullptr, "*", 0, "(null)"}, {"s", nullptr, 0, "(null)"}, {"s", "", 0, "(null)"}};
    // clang-format on
    for (const auto& [dir, pattern, type, names] : rows)
        EXPECT_EQ(texts(vek_scan_dir(dir, pattern, type)), names) << "row " << &dir - &std::get<0>(rows[0]);
    // Each pattern of the list expands to the files it names (not the
    // directory c.txt); empty and unmatched patterns give nothing.
    EXPECT_EQ(texts(vek_split_path(";s/?.txt;;s/*.log;s/none.xml;none/*;")),
              s + "/a.txt " + s + "/b.txt " + s + "/d.log " + s + "/x.txt");
    EXPECT_EQ(texts(vek_split_path("")) + texts(vek_split_path(nullptr)), "(null)");
}

// Directories come and go by names resolved against the root. Past the
// root the leading empty component of a name goes too; a first ".." stays.
// There are no drive letters here.
TEST_F(FilesTest, DirectoriesAndNamesResolveAgainstTheRootFoldingDotsThroughTheStringService)
{
    vek_terminate();
    EXPECT_EQ(take(vek_get_absolute_path("x")), "(null)");  // no core
    ASSERT_TRUE(vek_initialize());
    EXPECT_TRUE(vek_mkdir("t"));
    EXPECT_FALSE(vek_mkdir("t") || vek_mkdir("no/t"));
    fs::create_directories(root / "t/a/stuck$");
    ASSERT_TRUE(vek_write_file("t/f1", "x") && vek_write_file("t/a/f2", "x") && vek_write_file("file.txt", "x"));
    EXPECT_FALSE(vek_rmdir("t", false));  // not empty
    for (const char* bad : {static_cast<const char*>(nullptr), "", long_name.c_str()}) {
        EXPECT_FALSE(vek_mkdir(bad) || vek_rmdir(bad, false) || vek_rmdir(bad, true));
        EXPECT_EQ(bad == nullptr, vek_make_path(bad));
    }

    std::string deep = at("m1/m 2/m3"), file = at("file.txt");
    EXPECT_TRUE(vek_make_path(deep.c_str()) && fs::is_directory(deep) && vek_make_path((deep + "/").c_str()));
    for (std::string bad : {file + "/sub/x", file, at(long_name)}) EXPECT_FALSE(vek_make_path(bad.c_str()));
    // Existence tests strip trailing separators of either kind.
    EXPECT_TRUE(vek_dir_exists((deep + "\\/").c_str()) && vek_dir_exists("/") && vek_file_exists(file.c_str()));
    EXPECT_FALSE(vek_file_exists(deep.c_str()) || vek_file_exists(at("none").c_str()) || vek_file_exists("") ||
                 vek_dir_exists(file.c_str()) || vek_dir_exists(nullptr));

    setenv("VEK_ROOT_PATH", "/srv/x/../app", 1);
    EXPECT_EQ(take(vek_get_absolute_path("conf")) + take(vek_get_absolute_path(nullptr)), "/srv/app/conf(null)");
    setenv("VEK_ROOT_PATH", "/app", 1);
    // clang-format off
    const char* const rows[][2] = {
        {"D:\\data\\y", "/app/D:\\data\\y"}, {"\\etc\\x", "/etc/x"}, {"a//b/../c/./d/", "/app/a//c/d"},
        {"/etc/../x", "/x"}, {"../../../x", "../x"}, {"\"a\"\\b\\..\\\"c d\"", "/app/a/c d"}};
    // clang-format on
    for (auto& row : rows) EXPECT_EQ(take(vek_get_absolute_path(row[0])), row[1]) << row[0];

    // Without the string service only names without ".." or "$" resolve. As
    // root no permission keeps an entry; a subdirectory whose name cannot be
    // resolved does.
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));
    EXPECT_EQ(take(vek_get_absolute_path("\\etc\\x")) + take(vek_get_absolute_path("/etc/../x")), "/etc/x(null)");
    EXPECT_FALSE(vek_rmdir(at("t").c_str(), true));
    EXPECT_FALSE(fs::exists(root / "t/f1") || fs::exists(root / "t/a/f2"));  // files go first
    EXPECT_TRUE(fs::remove(root / "t/a/stuck$") && vek_rmdir(at("t").c_str(), true) && !fs::exists(root / "t"));

    // Without a root no name resolves, not even an absolute one, so every
    // call that takes a name fails; make_path tests the name as given.
    unsetenv("VEK_ROOT_PATH");
    EXPECT_EQ(take(vek_get_absolute_path(file.c_str())) + take(vek_read_file(file.c_str())), "(null)(null)");
    EXPECT_TRUE(vek_make_path(deep.c_str()) && !vek_mkdir(at("new").c_str()));
}
