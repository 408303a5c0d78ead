#include <iconv.h>

#include <string>

#include "xml/xml_fixture.h"

namespace vek_test {
namespace {

class XmlEncodingTest : public xml_fixture {
protected:
    // `utf8` converted to `charset` ("" when iconv cannot).
    static std::string encoded(const std::string& utf8, const char* charset)
    {
        iconv_t cd = iconv_open(charset, "UTF-8");
        if (cd == reinterpret_cast<iconv_t>(-1)) return "";
        std::string out(utf8.size() * 4, '\0');
        char* in = const_cast<char*>(utf8.data());
        char* dst = out.data();
        size_t in_left = utf8.size(), room = out.size();
        bool ok = iconv(cd, &in, &in_left, &dst, &room) != static_cast<size_t>(-1);
        iconv_close(cd);
        return ok ? out.substr(0, out.size() - room) : "";
    }

    // The tree of `body` declared and encoded as `charset`, dumped.
    std::string tree_in(const std::string& body, const char* charset)
    {
        const std::string bytes = encoded(body, charset);
        EXPECT_FALSE(bytes.empty()) << charset;
        const std::string doc = "<?xml version=\"1.0\" encoding=\"" + std::string(charset) + "\"?>\n" + bytes;
        return dump(node_ptr(parse(doc.c_str())));
    }
};

TEST_F(XmlEncodingTest, SingleByteCyrillicSetsGiveTheTreeOfTheirUtf8Copy)
{
    const std::string body =
        "<\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0 \xD0\xB0\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80=\"\xD0\x9F\xD1\x83"
        "\xD1\x88\xD0\xBA\xD0\xB8\xD0\xBD &amp; \xD0\x81\"><\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0>"
        "\xD0\xA1\xD1\x8A\xD0\xB5\xD1\x88\xD1\x8C \xD0\xB6\xD0\xB5 \xD0\xB5\xD1\x89\xD1\x91 \xD1\x8D\xD1\x82\xD0"
        "\xB8\xD1\x85 \xD0\xBC\xD1\x8F\xD0\xB3\xD0\xBA\xD0\xB8\xD1\x85 \xD0\xB1\xD1\x83\xD0\xBB\xD0\xBE\xD0\xBA"
        "</\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0>&#1025;</\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0>";
    const std::string utf8_tree = dump(node_ptr(parse(body.c_str())));
    ASSERT_NE(utf8_tree, "<null>");
    for (const char* charset : {"windows-1251", "KOI8-R", "ISO-8859-5", "cp866"})
        EXPECT_EQ(tree_in(body, charset), utf8_tree) << charset;
}

TEST_F(XmlEncodingTest, MultiByteSetsDecodeTheirSequences)
{
    // Kanji, kana, half-width kana (one byte in Shift_JIS, two in EUC-JP)
    // and a character EUC-JP writes with three bytes.
    const std::string body =
        "<r a=\"\xE6\x97\xA5\xE6\x9C\xAC\">\xE3\x81\x8B\xE3\x81\xAA \xEF\xBD\xB6\xEF\xBE\x85 x</r>";
    const std::string utf8_tree = dump(node_ptr(parse(body.c_str())));
    const std::string kanji = "<r a=\"\xE6\x97\xA5\xE6\x9C\xAC\">\xE4\xB8\xAD</r>";
    for (const char* charset : {"Shift_JIS", "EUC-JP", "Big5", "GB2312"})
        EXPECT_EQ(tree_in(kanji, charset), dump(node_ptr(parse(kanji.c_str())))) << charset;
    EXPECT_EQ(tree_in(body, "Shift_JIS"), utf8_tree);
    EXPECT_EQ(tree_in(body, "EUC-JP"), utf8_tree);
    const std::string three_bytes = "<r>\xE4\xB8\x82</r>";
    EXPECT_EQ(tree_in(three_bytes, "EUC-JP"), dump(node_ptr(parse(three_bytes.c_str()))));
    // A malformed sequence fails the parse.
    EXPECT_EQ(parse("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>\x81</r>"), nullptr);
}

TEST_F(XmlEncodingTest, AnEncodingThatCannotBeReadGivesNullAndATraceLine)
{
    const std::string path = file_with("trace.txt");
    vek_enable_trace(true);
    vek_set_trace_facility(path.c_str());
    EXPECT_EQ(parse("<?xml version=\"1.0\" encoding=\"x-no-such-set\"?><r/>"), nullptr);
    // Known to iconv, but not the single bytes of ASCII that Expat needs.
    EXPECT_EQ(parse("<?xml version=\"1.0\" encoding=\"UTF-32\"?><r/>"), nullptr);
    vek_set_trace_facility("stdout");
    quiet_trace();
    const std::string trace = read_text(path);
    EXPECT_NE(trace.find("unknown encoding \"x-no-such-set\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("encoding \"UTF-32\" is not ASCII-compatible"), std::string::npos) << trace;
}

}  // namespace
}  // namespace vek_test
