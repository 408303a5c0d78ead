// Whole files, directories, and the resolution of names against the root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Takes over a heap text: the text, "(null)" for null.
std::string take(char* text)
{
    std::string result = text != nullptr ? text : "(null)";
    std::free(text);
    return result;
}

// The bytes of a binary file read whole ("(null)" when it is not read);
// checks that the caller holds the only reference and gives it up.
std::string take(vek::i_binary* bin)
{
    if (bin == nullptr) return "(null)";
    EXPECT_EQ(vek_test::count_of(bin), 1);
    std::string bytes(static_cast<const char*>(bin->get_data()), bin->get_data_size());
    bin->release();
    return bytes;
}

// The item texts, sorted and joined by blanks ("(null)" for null); checks
// that the caller holds the only reference and gives it up.
std::string texts(vek::i_object_col* col)
{
    if (col == nullptr) return "(null)";
    EXPECT_EQ(vek_test::count_of(col), 1);
    std::multiset<std::string> names;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        auto_ptr_t<vek::i_object> item = col->get_item_by_pos(i);
        EXPECT_EQ(vek_test::count_of(item), 2);  // the collection's and ours
        names.insert(vek_cast_i_string(item)->get_value());
    }
    col->release();
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    return joined;
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

// Stands in for the string service: the text unchanged, or null for texts
// holding "FAIL".
class echo_proc : public vek::object, public vek::i_string_proc {
public:
    char* process(const char* s, vek::i_var_subst*) override { return std::strstr(s, "FAIL") ? nullptr : strdup(s); }
    vek::i_object_col_x* get_global_var_substs() override { return nullptr; }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "i_string_proc") != 0) return object::get_interface(iface_name, pp_obj);
        *pp_obj = static_cast<vek::i_string_proc*>(this);
        return true;
    }
};

}  // namespace

TEST_F(FilesTest, ReadAndWriteRoundTrip)
{
    // Text reads fold each CR LF into LF (the file keeps it); a lone CR stays.
    ASSERT_TRUE(vek_write_file("a.txt", "ab\r\ncd\r\n"));
    EXPECT_EQ(take(vek_read_file("a.txt")), "ab\ncd\n");
    EXPECT_EQ(take(vek_read_binary_file("a.txt")), "ab\r\ncd\r\n");
    ASSERT_TRUE(vek_write_file("a.txt", "a\rb") && vek_write_file("a.txt", "\r", true));
    EXPECT_EQ(take(vek_read_file("a.txt")), "a\rb\r");
    ASSERT_TRUE(vek_write_file("a.txt", ""));
    EXPECT_EQ(take(vek_read_file("a.txt")) + take(vek_read_binary_file("a.txt")), "");
    const char bytes[] = {'x', '\0', 'y', '\r', '\n', '\0'};
    ASSERT_TRUE(vek_write_binary_file("bin", bytes, sizeof bytes) && vek_write_binary_file("bin", bytes, 2, true));
    EXPECT_EQ(take(vek_read_binary_file("bin")), std::string(bytes, sizeof bytes) + std::string("x\0", 2));

    // Quotes in a name are kept; an absolute name is taken as it is.
    std::string big(1 << 20, 'a'), odd = "with \"quotes\" and 'blanks' .txt";
    for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(vek_write_file(at(odd).c_str(), big.c_str()));
    EXPECT_EQ(fs::file_size(root / odd), big.size());
    EXPECT_EQ(take(vek_read_file(odd.c_str())), big);

    fs::create_directories(root / "dir");
    for (const char* bad : {"nodir/x.txt", "dir", long_name.c_str(), "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(take(vek_read_file(bad)) + take(vek_read_binary_file(bad)), "(null)(null)");
        EXPECT_FALSE(vek_write_file(bad, "x"));
    }
    EXPECT_FALSE(vek_write_file("n.txt", nullptr) || vek_write_binary_file("n.txt", nullptr, 3));
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
    rlimit limit{256 * 1024, unlimited.rlim_max};
    if (!mounted) {
        std::printf("cannot mount a tmpfs (%s): a file size limit stands in for a full disk\n", strerror(errno));
        signal(SIGXFSZ, SIG_IGN);
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
    for (const std::string& path : {a, b, c}) EXPECT_EQ(take(vek_read_file(path.c_str())), "old\n") << path;
    EXPECT_EQ(std::distance(fs::directory_iterator(small), fs::directory_iterator()), 3);
    if (mounted) umount(small.c_str());
    setrlimit(RLIMIT_FSIZE, &unlimited);

    const std::string target = at("killed"), fresh(50 << 20, 'n');
    ASSERT_TRUE(vek_write_file(target.c_str(), "old\n"));
    pid_t child = fork();
    if (child == 0) _exit(vek_write_file(target.c_str(), fresh.c_str()) ? 0 : 1);
    // Kill it as soon as the write shows: a changed size or a scratch file.
    vek_test::wait_for([&] {
        return fs::file_size(target) != 4 || std::distance(fs::directory_iterator(root), fs::directory_iterator()) > 2;
    });
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::string after = vek_test::read_text(target);
    EXPECT_TRUE(after == "old\n" || after == fresh) << after.size() << " bytes";
}

TEST_F(FilesTest, ScanDirAndSplitPathFilterByTypeAndPattern)
{
    for (const char* name : {"s/a.txt", "s/b.txt", "s/ab.txt", "s/x.txt", "s/[x].txt", "s/d.log", "conf/main.xml"}) {
        make(name);
    }
    fs::create_directories(root / "s/c.txt");
    // A directory, a pattern (brackets are ordinary characters), a type (1
    // files, 2 directories, 0 or 3 both; never "." or "..") and the names.
    const std::string s = at("s"), all = "[x].txt a.txt ab.txt b.txt c.txt x.txt";
    // clang-format off
    const std::tuple<const char*, const char*, int, std::string> rows[] = {
        {"s", "?.txt", 1, "a.txt b.txt x.txt"}, {"s", "*", 2, "c.txt"}, {"s", "*.txt", 0, all},
        {s.c_str(), "*.txt", 3, all}, {"s", "[x]*", 0, "[x].txt"}, {"s", "[ab].txt", 0, ""},
        {".", "s/*.log", 1, "d.log"}, {"missing", "*", 0, ""}, {long_name.c_str(), "*", 0, ""},
        {nullptr, "*", 0, "(null)"}, {"", "*", 0, "(null)"}, {"s", nullptr, 0, "(null)"}, {"s", "", 0, "(null)"}};
    // clang-format on
    for (const auto& [dir, spec, type, names] : rows) {
        EXPECT_EQ(texts(vek_scan_dir(dir, spec, type)), names) << "row " << &dir - &std::get<0>(rows[0]);
    }
    // Each pattern of the list expands to the files it names (not the
    // directory c.txt); empty and unmatched patterns give nothing.
    const std::string r = root.string(),
                      found = r + "/conf/main.xml " + r + "/s/a.txt " + r + "/s/b.txt " + r + "/s/x.txt";
    EXPECT_EQ(texts(vek_split_path("s/?.txt;conf/main.xml")), found);
    EXPECT_EQ(texts(vek_split_path(";s/?.txt;;conf/main.xml;conf/none.xml;none/*;")), found);
    EXPECT_EQ(texts(vek_split_path("")) + texts(vek_split_path(nullptr)), "(null)");
}

TEST_F(FilesTest, MkdirRmdirMakePathAndExistenceTests)
{
    EXPECT_TRUE(vek_mkdir("t"));
    EXPECT_FALSE(vek_mkdir("t") || vek_mkdir("no/t"));
    for (const char* name : {"t/f1", "t/a/f2", "t/a/b/f3", "t/a/b/c/f4"}) make(name);
    EXPECT_FALSE(vek_rmdir("t", false));  // not empty
    EXPECT_TRUE(vek_rmdir("t", true) && !fs::exists(root / "t"));
    EXPECT_FALSE(vek_rmdir("t", true));
    for (const char* bad : {static_cast<const char*>(nullptr), "", long_name.c_str()}) {
        EXPECT_FALSE(vek_mkdir(bad) || vek_rmdir(bad, false) || vek_rmdir(bad, true));
        EXPECT_EQ(bad == nullptr, vek_make_path(bad));
    }
    EXPECT_TRUE(fs::exists(root));

    std::string deep = at("m1/m 2/m3"), file = at("file.txt");
    EXPECT_TRUE(vek_make_path(deep.c_str()) && fs::is_directory(deep) && vek_make_path((deep + "/").c_str()));
    make("file.txt");
    for (std::string bad : {file + "/sub/x", file, at(long_name)}) EXPECT_FALSE(vek_make_path(bad.c_str()));
    // Existence tests strip trailing separators of either kind.
    EXPECT_TRUE(vek_dir_exists((deep + "\\/").c_str()) && vek_dir_exists("/") && vek_file_exists(file.c_str()));
    EXPECT_FALSE(vek_file_exists(deep.c_str()) || vek_file_exists(at("missing").c_str()) || vek_file_exists(""));
    EXPECT_FALSE(vek_dir_exists(file.c_str()) || vek_dir_exists(nullptr));

    // As root no permission keeps an entry; a subdirectory whose name cannot
    // be resolved (a '$' without the string service) does.
    make("u/f1");
    make("u/a/f2");
    fs::create_directories(root / "u/a/stuck$");
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));
    EXPECT_FALSE(vek_rmdir("u", true));
    EXPECT_FALSE(fs::exists(root / "u/f1") || fs::exists(root / "u/a/f2"));  // files go first
    EXPECT_TRUE(fs::exists(root / "u/a/stuck$"));
}

TEST_F(FilesTest, NamesResolveAgainstTheRootFoldingDotsThroughTheStringService)
{
    vek_terminate();
    EXPECT_EQ(take(vek_get_absolute_path("x")), "(null)");  // no core
    ASSERT_TRUE(vek_initialize());
    const std::string d = at("d"), f = at("d/f");
    make("d/f");
    setenv("VEK_ROOT_PATH", "/app", 1);
    ASSERT_TRUE(vek_core()->unregister_service("svc_string"));
    // A name, then what it resolves to without the string service and with
    // a stand-in for it. Past the root the leading empty component goes
    // too; a first ".." stays. There are no drive letters here.
    // clang-format off
    const char* const rows[][3] = {
        {"conf/x.xml", "/app/conf/x.xml", "/app/conf/x.xml"}, {"conf\\x.xml", "/app/conf\\x.xml", "/app/conf\\x.xml"},
        {"\\etc\\x", "/etc/x", "/etc/x"}, {"D:\\data\\y", "/app/D:\\data\\y", "/app/D:\\data\\y"},
        {"conf/../log/./a.txt", "(null)", "/app/log/a.txt"}, {"/etc/../x", "(null)", "/x"},
        {"a/b/../c/", "(null)", "/app/a/c"}, {"a//b/../c", "(null)", "/app/a//c"}, {"../../x", "(null)", "x"},
        {"\"a\"\\b\\..\\\"c d\"", "(null)", "/app/a/c d"}, {"../../../x", "(null)", "../x"},
        {"FAIL/..", "(null)", "(null)"}};
    // clang-format on
    for (auto& row : rows) EXPECT_EQ(take(vek_get_absolute_path(row[0])), row[1]) << row[0];
    ASSERT_TRUE(vek_core()->register_service(new echo_proc(), "svc_string"));
    for (auto& row : rows) EXPECT_EQ(take(vek_get_absolute_path(row[0])), row[2]) << row[0];
    EXPECT_EQ(take(vek_get_absolute_path(nullptr)), "(null)");
    setenv("VEK_ROOT_PATH", "/srv/x/../app", 1);
    EXPECT_EQ(take(vek_get_absolute_path("conf")), "/srv/app/conf");

    // Without a root no name resolves, not even an absolute one, so every
    // call that takes a name fails; make_path tests the name as given.
    unsetenv("VEK_ROOT_PATH");
    EXPECT_EQ(take(vek_get_absolute_path(f.c_str())) + take(vek_read_file(f.c_str())), "(null)(null)");
    EXPECT_EQ(take(vek_read_binary_file(f.c_str())), "(null)");
    EXPECT_EQ(texts(vek_scan_dir(d.c_str(), "*", 0)) + "|" + texts(vek_split_path((d + "/*").c_str())), "(null)|");
    EXPECT_FALSE(vek_write_file(f.c_str(), "y") || vek_write_binary_file(f.c_str(), "y", 1));
    EXPECT_FALSE(vek_mkdir(at("new").c_str()) || vek_rmdir(d.c_str(), true) || vek_make_path(at("new/x").c_str()));
    EXPECT_TRUE(vek_make_path(d.c_str()) && vek_test::read_text(f) == "x");
}
