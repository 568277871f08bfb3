// The reader's platform-free rules on their own: line ends over text that arrives in pieces,
// and the markers cut out of single lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/LineReader.h"
#include "settings/MarkerRules.h"
#include "settings/TextSource.h"
#include "settings/Utf16.h"
#include "tests/settings/RecordingTarget.h"

namespace quelvar {
namespace {

using test::RecordingTarget;
using Calls = std::vector<std::string>;

// Hands out the given pieces one by one, as a file's blocks would arrive.
class PieceSource : public TextSource {
public:
    explicit PieceSource(std::vector<std::u16string> pieces) : m_pieces(std::move(pieces)) {}
    bool decodeNextBlock(std::u16string& text) override {
        if (m_next == m_pieces.size()) {
            return false;
        }
        text += m_pieces[m_next++];
        return true;
    }

private:
    std::vector<std::u16string> m_pieces;
    std::size_t m_next = 0;
};

std::vector<std::string> readLines(std::vector<std::u16string> pieces) {
    PieceSource source(std::move(pieces));
    LineReader reader(source);
    std::vector<std::string> lines;
    while (!reader.atEnd()) {
        lines.push_back(utf8FromUtf16(reader.readLine()));
    }
    return lines;
}

TEST(LineReaderTest, LineEndsOverPieces) {
    struct Case {
        const char* name;
        std::vector<std::u16string> pieces;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"no text", {}, {}},
        {"empty pieces only", {u"", u""}, {}},
        {"LF, CR LF and lone CR", {u"a\nb\r\nc\rd"}, {"a", "b", "c", "d"}},
        {"final line end makes no empty line", {u"a\r\n"}, {"a"}},
        {"final lone CR makes no empty line", {u"a\r"}, {"a"}},
        {"empty lines are lines", {u"\n\r\n\r"}, {"", "", ""}},
        {"CR LF split between pieces", {u"a\r", u"\nb"}, {"a", "b"}},
        {"CR LF split by an empty piece", {u"a\r", u"", u"\nb"}, {"a", "b"}},
        {"lone CR at a piece end", {u"a\r", u"b\r"}, {"a", "b"}},
        {"line over three pieces", {u"ab", u"cd", u"ef\ng"}, {"abcdef", "g"}},
        {"LF opens a piece", {u"a", u"\n", u"b"}, {"a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(readLines(c.pieces), c.lines);
    }
}

TEST(MarkerRulesTest, SingleLines) {
    struct Case {
        const char* name;
        std::u16string line;
        Calls calls;
    };
    const Case cases[] = {
        {"true", u"const USA_HTTPS = true;", {"https=1"}},
        {"false", u"const USA_HTTPS = false;", {"https=0"}},
        {"True", u"const USA_HTTPS = True;", {"https=0"}},
        {"quoted true", u"const USA_HTTPS = 'true';", {"https=0"}},
        {"true without semicolon", u"const USA_HTTPS = true", {"https=0"}},
        {"true with trailing blank", u"const USA_HTTPS = true; ", {"https=0"}},
        {"true indented", u"  const USA_HTTPS = true;", {"https=1"}},
        {"single quotes", u"const IP_EXTERNO = 'host:10446';", {"externo=host:10446"}},
        {"double quotes", u"const IP_EXTERNO = \"host:10446\";", {"externo=host:10446"}},
        {"no semicolon", u"const IP_EXTERNO = 'host:10446'", {"externo=host:1044"}},
        {"no quotation marks", u"const IP_EXTERNO = host:10446;", {"externo=ost:1044"}},
        {"no blanks around =", u"const IP_EXTERNO='x';", {}},
        {"two blanks after const", u"const  IP_EXTERNO = 'x';", {}},
        {"two blanks after =", u"const IP_EXTERNO =  'x';", {"externo='x"}},
        {"empty value", u"const IP_EXTERNO = '';", {"externo="}},
        {"ends after the marker", u"const IP_EXTERNO = ", {"externo="}},
        {"blanks kept", u"const IP_EXTERNO = ' host ';", {"externo= host "}},
        {"= in the value", u"const IP_EXTERNO = 'a=b';", {"externo=a=b"}},
        {"= before the marker",
         u"x = 1; const IP_EXTERNO = 'h';",
         {"externo=; const IP_EXTERNO = 'h"}},
        {"export", u"export const IP_EXTERNO = 'h';", {"externo=h"}},
        {"commented out", u"// const IP_EXTERNO = 'old';", {"externo=old"}},
        {"trailing comment", u"const IP_EXTERNO = 'host:10446'; // x", {"externo=host:10446'; //"}},
        {"two keys on one line",
         u"const IP_EXTERNO = 'a'; const IP_INTERNO = 'b';",
         {"externo=a'; const IP_INTERNO = 'b", "interno=a'; const IP_INTERNO = 'b"}},
        {"internal", u"const IP_INTERNO = '10.1.1.1:8080';", {"interno=10.1.1.1:8080"}},
        // Positions count UTF-16 code units: a surrogate pair is two of them.
        {"beyond the BMP", u"const IP_EXTERNO = '\U0001F600';", {"externo=\xF0\x9F\x98\x80"}},
        {"marker case counts", u"const ip_externo = 'x';", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingTarget target;
        applyMarkers(c.line, target);
        EXPECT_EQ(target.calls, c.calls);
    }
}

TEST(Utf16Test, ToUtf8) {
    EXPECT_EQ(utf8FromUtf16(u"aç€\U0001F600"), "a\xC3\xA7\xE2\x82\xAC\xF0\x9F\x98\x80");
    // A surrogate without its partner, alone, first or last.
    EXPECT_EQ(utf8FromUtf16(std::u16string{u'a', char16_t(0xD83D), u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf8FromUtf16(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quelvar
