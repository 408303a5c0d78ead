#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

// The item texts, sorted ({"(null)"} for null); checks that the caller
// holds the only reference and gives it up.
strings texts(vek::i_object_col* col)
{
    if (col == nullptr) return {"(null)"};
    EXPECT_EQ(vek_test::count_of(col), 1);
    strings out;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_object* item = col->get_item_by_pos(i);
        EXPECT_EQ(vek_test::count_of(item), 2);  // the collection's and ours
        out.emplace_back(vek_cast_i_string(item)->get_value());
        item->release();
    }
    col->release();
    std::sort(out.begin(), out.end());
    return out;
}

std::string read(const char* path)
{
    char* text = vek_read_file(path);
    std::string result = text != nullptr ? text : "(null)";
    std::free(text);
    return result;
}

const std::string long_name(4000, 'n');

class FilesTest : public vek_test::scratch_core_test {
protected:
    std::string at(const std::string& rel) { return (root / rel).string(); }
    void make(const std::string& rel)
    {
        fs::create_directories((root / rel).parent_path());
        ASSERT_TRUE(vek_write_file(rel.c_str(), "x"));
    }
};

}  // namespace

TEST_F(FilesTest, ReadAndWriteRoundTrip)
{
    ASSERT_TRUE(vek_write_file("crlf.txt", "ab\r\ncd\r\n"));
    EXPECT_EQ(fs::file_size(root / "crlf.txt"), 8u);
    EXPECT_EQ(read("crlf.txt"), "ab\ncd\n");
    ASSERT_TRUE(vek_write_file("a.txt", "a\rb"));
    ASSERT_TRUE(vek_write_file("a.txt", "\r", true));
    EXPECT_EQ(read("a.txt"), "a\rb\r");  // a lone CR stays
    ASSERT_TRUE(vek_write_file("a.txt", ""));
    EXPECT_EQ(read("a.txt"), "");

    const char bytes[] = {'x', '\0', 'y', '\r', '\n', '\0'};
    ASSERT_TRUE(vek_write_binary_file("bin", bytes, sizeof bytes));
    ASSERT_TRUE(vek_write_binary_file("bin", bytes, 2, true));
    EXPECT_EQ(vek_test::read_text(root / "bin"), std::string(bytes, sizeof bytes) + std::string("x\0", 2));

    std::string big(1 << 20, 'a');
    for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(vek_write_file(at("big.txt").c_str(), big.c_str()));
    EXPECT_EQ(read("big.txt"), big);

    std::string odd = "with \"quotes\" and 'blanks' .txt";
    ASSERT_TRUE(vek_write_file(odd.c_str(), "q"));
    EXPECT_EQ(vek_test::read_text(root / odd), "q");
    EXPECT_EQ(read(odd.c_str()), "q");

    fs::create_directories(root / "dir");
    for (const char* bad : {"missing.txt", "dir", long_name.c_str(), "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(read(bad), "(null)");
    }
    for (const char* bad : {"dir", "nodir/x.txt", long_name.c_str(), "", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(vek_write_file(bad, "x"));
    }
    EXPECT_FALSE(vek_write_file("n.txt", nullptr));
    EXPECT_FALSE(vek_write_binary_file("n.txt", nullptr, 3));
    EXPECT_FALSE(fs::exists(root / "n.txt"));
}

// A full disk (a small tmpfs where the test may mount one, else a file size
// limit, which fails writes the same way) and a writer killed halfway: the
// old contents stay whole, the failing calls say false, no scratch is left.
TEST_F(FilesTest, FailedOrKilledWritesLeaveTheOldFileWhole)
{
    fs::path small = root / "small";
    fs::create_directories(small);
    bool mounted = mount("vek_test", small.c_str(), "tmpfs", 0, "size=256k") == 0;
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    if (!mounted) {
        std::printf("cannot mount a tmpfs (%s): a file size limit stands in for a full disk\n", strerror(errno));
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{256 * 1024, unlimited.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    const std::string big(400 * 1024, 'b'), a = (small / "a").string(), b = (small / "b").string();
    const std::string c = (small / "c").string();
    auto_ptr_t<vek::i_object> svc = vek_core()->get_service("svc_xml");
    auto_ptr_t<vek::i_xml_node> node = vek_cast_i_xml_proc(svc)->create_node("r");
    node->set_text(big.c_str());
    for (const std::string& path : {a, b, c}) ASSERT_TRUE(vek_write_file(path.c_str(), "old\n"));
    EXPECT_FALSE(vek_write_file(a.c_str(), big.c_str()));
    EXPECT_FALSE(vek_write_binary_file(b.c_str(), big.data(), static_cast<unsigned int>(big.size()), true));
    EXPECT_FALSE(vek_cast_i_xml_proc(svc)->write_file(node, c.c_str(), false));
    for (const std::string& path : {a, b, c}) EXPECT_EQ(read(path.c_str()), "old\n") << path;
    EXPECT_EQ(std::distance(fs::directory_iterator(small), fs::directory_iterator()), 3);
    if (mounted) umount(small.c_str());
    setrlimit(RLIMIT_FSIZE, &unlimited);

    const std::string target = at("killed"), fresh(50 << 20, 'n');
    ASSERT_TRUE(vek_write_file(target.c_str(), "old\n"));
    pid_t child = fork();
    if (child == 0) _exit(vek_write_file(target.c_str(), fresh.c_str()) ? 0 : 1);
    // Kill it as soon as the write shows: a changed size or a scratch file.
    auto writing = [&] { return fs::file_size(target) != 4 || std::distance(fs::directory_iterator(root), fs::directory_iterator()) > 2; };
    vek_test::wait_for(writing);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::string after = vek_test::read_text(target);
    EXPECT_TRUE(after == "old\n" || after == fresh) << after.size() << " bytes";
}

TEST_F(FilesTest, ScanDirFiltersByTypeAndPattern)
{
    for (const char* name : {"s/a.txt", "s/b.txt", "s/ab.txt", "s/x.txt", "s/[x].txt", "s/d.log"}) make(name);
    fs::create_directories(root / "s/c.txt");

    EXPECT_EQ(texts(vek_scan_dir("s", "?.txt", 1)), (strings{"a.txt", "b.txt", "x.txt"}));
    EXPECT_EQ(texts(vek_scan_dir("s", "*", 2)), (strings{"c.txt"}));  // no "." or ".."
    strings all{"[x].txt", "a.txt", "ab.txt", "b.txt", "c.txt", "x.txt"};
    EXPECT_EQ(texts(vek_scan_dir("s", "*.txt", 0)), all);
    EXPECT_EQ(texts(vek_scan_dir(at("s").c_str(), "*.txt", 3)), all);
    // Brackets are ordinary characters, not sets.
    EXPECT_EQ(texts(vek_scan_dir("s", "[x]*", 0)), (strings{"[x].txt"}));
    EXPECT_EQ(texts(vek_scan_dir("s", "[ab].txt", 0)), strings{});
    EXPECT_EQ(texts(vek_scan_dir(".", "s/*.log", 1)), (strings{"d.log"}));  // a directory part

    EXPECT_EQ(texts(vek_scan_dir("missing", "*", 0)), strings{});
    EXPECT_EQ(texts(vek_scan_dir(long_name.c_str(), "*", 0)), strings{});
    strings null{"(null)"};
    EXPECT_EQ(texts(vek_scan_dir(nullptr, "*", 0)), null);
    EXPECT_EQ(texts(vek_scan_dir("", "*", 0)), null);
    EXPECT_EQ(texts(vek_scan_dir("s", nullptr, 0)), null);
    EXPECT_EQ(texts(vek_scan_dir("s", "", 0)), null);
}

TEST_F(FilesTest, SplitPathExpandsEachPattern)
{
    for (const char* name : {"logs/a.log", "logs/b.log", "logs/c.txt", "conf/main.xml"}) make(name);
    fs::create_directories(root / "logs/d.log");

    strings expected{at("conf/main.xml"), at("logs/a.log"), at("logs/b.log")};
    EXPECT_EQ(texts(vek_split_path("logs/*.log;conf/main.xml")), expected);
    EXPECT_EQ(texts(vek_split_path(";logs/*.log;;conf/main.xml;conf/none.xml;none/*;")), expected);
    EXPECT_EQ(texts(vek_split_path("")), strings{});
    EXPECT_EQ(texts(vek_split_path(nullptr)), strings{"(null)"});
}

TEST_F(FilesTest, MkdirRmdirAndMakePath)
{
    EXPECT_TRUE(vek_mkdir("t"));
    EXPECT_FALSE(vek_mkdir("t"));
    EXPECT_FALSE(vek_mkdir("no/t"));
    for (const char* name : {"t/f1", "t/a/f2", "t/a/b/f3", "t/a/b/c/f4"}) make(name);
    EXPECT_FALSE(vek_rmdir("t", false));  // not empty
    EXPECT_TRUE(vek_rmdir("t", true));
    EXPECT_FALSE(fs::exists(root / "t"));
    EXPECT_FALSE(vek_rmdir("t", true));
    for (const char* bad : {static_cast<const char*>(nullptr), "", long_name.c_str()}) {
        EXPECT_FALSE(vek_mkdir(bad));
        EXPECT_FALSE(vek_rmdir(bad, false));
        EXPECT_FALSE(vek_rmdir(bad, true));
        EXPECT_EQ(bad == nullptr, vek_make_path(bad));
    }
    EXPECT_TRUE(fs::exists(root));

    std::string deep = at("m1/m 2/m3");
    EXPECT_TRUE(vek_make_path(deep.c_str()));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(vek_make_path((deep + "/").c_str()));
    make("file.txt");
    EXPECT_FALSE(vek_make_path(at("file.txt/sub/x").c_str()));
    EXPECT_FALSE(vek_make_path(at("file.txt").c_str()));
    EXPECT_FALSE(vek_make_path(at(long_name).c_str()));
}

TEST_F(FilesTest, RecursiveRmdirStopsAtAnEntryThatStays)
{
    // As root no permission keeps an entry; a subdirectory whose name cannot
    // be resolved (a '$' without the string service) does.
    make("u/f1");
    make("u/a/f2");
    fs::create_directories(root / "u/a/stuck$");
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));
    EXPECT_FALSE(vek_rmdir("u", true));
    EXPECT_FALSE(fs::exists(root / "u/f1"));  // files go first
    EXPECT_FALSE(fs::exists(root / "u/a/f2"));
    EXPECT_TRUE(fs::exists(root / "u/a/stuck$"));
}

TEST(FilesNoCoreTest, EveryResolvingFunctionFails)
{
    vek_test::env_guard env({"VEK_ROOT_PATH"});
    fs::path dir = vek_test::scratch_path("vek_files_no_core");
    fs::create_directories(dir / "d");
    setenv("VEK_ROOT_PATH", dir.c_str(), 1);
    std::string d = (dir / "d").string();

    EXPECT_EQ(read(d.c_str()), "(null)");
    EXPECT_FALSE(vek_write_file((dir / "f").c_str(), "y"));
    EXPECT_FALSE(vek_write_binary_file((dir / "f").c_str(), "y", 1));
    EXPECT_EQ(texts(vek_scan_dir(dir.c_str(), "*", 0)), strings{"(null)"});
    EXPECT_EQ(texts(vek_split_path((dir / "*").c_str())), strings{});
    EXPECT_FALSE(vek_mkdir((dir / "new").c_str()));
    EXPECT_FALSE(vek_rmdir(d.c_str(), false));
    EXPECT_FALSE(vek_make_path((dir / "new/x").c_str()));
    EXPECT_TRUE(vek_make_path(d.c_str()));  // tested as given
    EXPECT_FALSE(fs::exists(dir / "f"));
    EXPECT_TRUE(fs::is_directory(d));
    fs::remove_all(dir);
}

TEST_F(FilesTest, BinaryFilesReadWholeIntoOneReference)
{
    const char bytes[] = {'a', '\0', '\r', '\n', 'z'};
    ASSERT_TRUE(vek_write_binary_file("bin.dat", bytes, sizeof bytes));
    vek::i_binary* bin = vek_read_binary_file("bin.dat");
    ASSERT_NE(bin, nullptr);
    EXPECT_EQ(vek_test::count_of(bin), 1);
    ASSERT_EQ(bin->get_data_size(), sizeof bytes);  // no line-end folding
    EXPECT_EQ(std::memcmp(bin->get_data(), bytes, sizeof bytes), 0);
    bin->release();

    ASSERT_TRUE(vek_write_file("empty.dat", ""));
    vek::i_binary* empty = vek_read_binary_file("empty.dat");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->get_data_size(), 0u);
    empty->release();
    EXPECT_EQ(vek_read_binary_file("missing.dat"), nullptr);
    EXPECT_EQ(vek_read_binary_file("."), nullptr);  // a directory
    EXPECT_EQ(vek_read_binary_file(nullptr), nullptr);
}
