#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "xml/xml_fixture.h"

namespace vek_test {
namespace {

class XmlRoundTripTest : public xml_fixture {
protected:
    // Whether get_xml's output, in both forms, parses back to a tree equal
    // to `root`'s; adds a failure naming `what` when it does not.
    void expect_round_trip(vek::i_xml_node* root, const std::string& what)
    {
        const std::string tree = dump(root);
        for (bool format : {false, true}) {
            const std::string markup = xml_of(root, format);
            node_ptr again(parse(markup.c_str()));
            EXPECT_EQ(dump(again), tree) << what << (format ? " (formatted)" : "") << "\n" << markup;
        }
    }
};

// A random document whose content uses every way of writing blanks, line
// ends and the characters markup reserves.
std::string random_document(std::mt19937& rng)
{
    static const char* const pieces[] = {"a",      " ",     "\t",         "\n",     "\r\n", "&#9;",
                                         "&#10;",  "&#13;", "&#13;&#10;", "&amp;",  "&lt;", "&gt;",
                                         "&quot;", "'",     "\xC3\xA9",   "]]&gt;", "x y"};
    auto content = [&] {
        std::string s;
        for (int n = rng() % 6; n > 0; --n) s += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
        return s;
    };
    std::string doc;
    std::vector<std::string> open;
    int elements = 1 + rng() % 12;
    for (int i = 0; i == 0 || !open.empty();) {
        if (i == 0 || (i < elements && rng() % 3 != 0)) {
            std::string name = std::string(1, "abc"[rng() % 3]) + std::to_string(i++);
            doc += "<" + name;
            for (int a = rng() % 3; a > 0; --a) doc += " k" + std::to_string(a) + "=\"" + content() + "\"";
            doc += ">" + content();
            open.push_back(name);
        } else {
            doc += content() + "</" + open.back() + ">";
            open.pop_back();
        }
    }
    return doc;
}

TEST_F(XmlRoundTripTest, MarkupParsesBackToTheSameTree)
{
    node_ptr node(parse("<r a=\"&#9;x&#10;y&#13;\">&#13;t&#9;u&#10;v&#13;</r>"));
    EXPECT_EQ(xml_of(node), "<r a=\"&#9;x&#10;y&#13;\">&#13;t\tu\nv&#13;</r>");
    std::mt19937 rng(7);
    for (int i = 0; i < 400; ++i) {
        const std::string doc = random_document(rng);
        node_ptr root(parse(doc.c_str()));
        ASSERT_NE(root.get(), nullptr) << doc;
        expect_round_trip(root, doc);
    }
}

// The XML files this machine has, a bounded sample of them.
TEST_F(XmlRoundTripTest, FilesUnderUsrShareParseBackToTheSameTree)
{
    std::vector<std::string> paths;
    std::error_code ec;
    namespace fs = std::filesystem;
    for (fs::recursive_directory_iterator it("/usr/share", fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".xml" && it->is_regular_file(ec) && it->file_size(ec) < (1u << 20))
            paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    const size_t stride = paths.size() / 300 + 1;
    for (size_t i = 0; i < paths.size() && std::chrono::steady_clock::now() < deadline; i += stride) {
        node_ptr root(proc->parse_file(paths[i].c_str()));
        if (root.get() != nullptr) expect_round_trip(root, paths[i]);
    }
}

}  // namespace
}  // namespace vek_test
