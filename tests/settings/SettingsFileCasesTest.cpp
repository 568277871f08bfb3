// The settings file reader on real files, the same cases on every platform: the lines and the
// order of the calls, the byte-order marks, strict UTF-8, and what the 4096-byte block ends
// cut (a CR LF, a lone CR, a character of every length, a sequence that is already invalid).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Error.h"
#include "settings/SettingsFile.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/fixtures/ThrowMessage.h"
#include "tests/settings/RecordingTarget.h"

namespace quelvar {
namespace {

using test::RecordingTarget;
using test::TempDir;
using Calls = std::vector<std::string>;

const std::string kNoMapping =
    "No mapping for the Unicode character exists in the target multi-byte code page";
const std::string kNoError = "[no exception]";
constexpr std::size_t kBlock = 4096;

// Pads with a comment line so that the text after it starts at the byte offset.
std::string paddedTo(std::size_t offset) {
    std::string padding = "// ";
    padding.append(offset - padding.size() - 1, 'p');
    padding += '\n';
    return padding;
}

enum class ByteOrder { LittleEndian, BigEndian };

// Returns the UTF-16 code units as bytes in the byte order, without a byte-order mark.
std::string utf16Bytes(std::u16string_view text, ByteOrder order) {
    std::string bytes;
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += order == ByteOrder::BigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

struct Case {
    std::string name;
    std::string content;
    Calls calls;
    // The message the read throws, kNoError when it throws none.
    std::string error = kNoError;
};

std::vector<Case> linesAndEncodings() {
    std::vector<Case> cases;
    // The third marker of line 2 takes its value from the first "=" of the line too.
    const std::string both = "a'; const IP_INTERNO = 'b'; const USA_HTTPS = tru";
    cases.push_back(
        {"calls in line and marker order",
         "const IP_INTERNO = 'i1';\n"
         "const IP_EXTERNO = 'a'; const IP_INTERNO = 'b'; const USA_HTTPS = true;\n"
         "const USA_HTTPS = true;\r\n"
         "nothing here\r"
         "const USA_HTTPS = no;",
         {"interno=i1", "https=0", "externo=" + both, "interno=" + both, "https=1", "https=0"}});

    const std::string line = "const IP_EXTERNO = 'S\xC3\xA3o';\r\nconst USA_HTTPS = true;\n";
    const std::u16string wide = u"const IP_EXTERNO = 'São';\r\nconst USA_HTTPS = true;\n";
    const Calls decoded{"externo=S\xC3\xA3o", "https=1"};
    cases.push_back({"plain UTF-8", line, decoded});
    cases.push_back({"UTF-8 with mark", "\xEF\xBB\xBF" + line, decoded});
    cases.push_back({"UTF-16 little-endian with mark",
                     "\xFF\xFE" + utf16Bytes(wide, ByteOrder::LittleEndian), decoded});
    cases.push_back({"UTF-16 big-endian with mark",
                     "\xFE\xFF" + utf16Bytes(wide, ByteOrder::BigEndian), decoded});
    // Read as UTF-8: a zero byte beside every letter, so that no marker matches, and no fault.
    const std::u16string ascii = u"const IP_EXTERNO = 'x';\r\nconst USA_HTTPS = true;\n";
    cases.push_back(
        {"UTF-16 little-endian without mark", utf16Bytes(ascii, ByteOrder::LittleEndian), {}});
    cases.push_back(
        {"UTF-16 big-endian without mark", utf16Bytes(ascii, ByteOrder::BigEndian), {}});
    cases.push_back({"only a mark", "\xEF\xBB\xBF", {}});
    cases.push_back({"empty", "", {}});

    // Without a mark nothing is replaced: the whole read fails.
    struct Invalid {
        const char* name;
        std::string bytes;
    };
    const Invalid invalid[] = {
        {"Latin-1 letter", "\xE9"},
        {"lone continuation", "\x80"},
        {"overlong slash", "\xC0\xAF"},
        {"overlong three bytes", "\xE0\x80\xAF"},
        {"encoded surrogate", "\xED\xA0\x80"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"F5 lead", "\xF5\x80\x80\x80"},
        {"cut short by a letter", "\xE2\x82x"},
        {"cut short by the end of the file", "\xE2\x82"},
    };
    for (const Invalid& i : invalid) {
        cases.push_back({std::string(i.name) + " after a line",
                         "const IP_EXTERNO = 'a';\n" + i.bytes,
                         {},
                         kNoMapping});
    }
    // An accented letter saved in a Windows single-byte code page.
    cases.push_back(
        {"Windows-1252 without mark", "const IP_EXTERNO = 'S\xE3o';\n", {}, kNoMapping});
    cases.push_back(
        {"encoded surrogate in a value", "const IP_EXTERNO = '\xED\xA0\x80';\n", {}, kNoMapping});
    cases.push_back(
        {"overlong slash in a value", "const IP_EXTERNO = '\xC0\xAF';\n", {}, kNoMapping});
    cases.push_back(
        {"cut off at the end of the file", "const IP_EXTERNO = 'x';\n\xE2\x82", {}, kNoMapping});
    // The line before the fault is in the same block: it is never applied.
    cases.push_back({"a fault fails its whole block",
                     "const IP_EXTERNO = 'antes';\n// \xE9\nconst IP_INTERNO = 'x';\n",
                     {},
                     kNoMapping});
    // With a UTF-8 mark a faulty byte is replaced, not refused.
    cases.push_back({"UTF-8 mark, Latin-1 letter",
                     "\xEF\xBB\xBF"
                     "const IP_EXTERNO = 'a\xE9z';\n",
                     {"externo=a\xEF\xBF\xBDz"}});
    cases.push_back({"UTF-8 mark, Windows-1252 letter",
                     "\xEF\xBB\xBF"
                     "const IP_EXTERNO = 'S\xE3o';\n",
                     {"externo=S\xEF\xBF\xBDo"}});
    return cases;
}

std::vector<Case> blockEnds() {
    std::vector<Case> cases;
    const std::string line = "const IP_EXTERNO = 'x';";

    // The CR is the block's last byte and its LF the next block's first.
    cases.push_back({"CR LF split by the block end",
                     paddedTo(kBlock - 1 - line.size()) + line + "\r\n" + "const IP_INTERNO = 'y';",
                     {"externo=x", "interno=y"}});
    cases.push_back({"lone CR at the block end, and one at the end of the file",
                     paddedTo(kBlock - 1 - line.size()) + line + "\r" + "const IP_INTERNO = 'y';\r",
                     {"externo=x", "interno=y"}});
    for (const Case& c : cases) {
        EXPECT_EQ(c.content.find('\r'), kBlock - 1) << c.name;
    }

    // A character of every UTF-8 length, its bytes split at every place by the block end.
    const std::string value = "\xC3\xA3-\xE2\x82\xAC-\xF0\x9F\x98\x80";  // ã-€-😀
    const std::string marker = "const IP_EXTERNO = '";
    for (std::size_t shift = 0; shift <= value.size(); ++shift) {
        // The value's bytes start `shift` bytes before the block end.
        cases.push_back(
            {"characters of every length, " + std::to_string(shift) + " bytes before the block end",
             paddedTo(kBlock - shift - marker.size()) + marker + value + "';\n",
             {"externo=" + value}});
    }
    struct Split {
        const char* name;
        std::size_t before;  // bytes of the character in the first block
        std::string character;
    };
    const Split splits[] = {
        {"two bytes, one before the block end", 1, "\xC3\xA3"},
        {"three bytes, one before the block end", 1, "\xE2\x82\xAC"},
        {"three bytes, two before the block end", 2, "\xE2\x82\xAC"},
        {"four bytes, three before the block end", 3, "\xF0\x9F\x98\x80"},
    };
    for (const Split& s : splits) {
        cases.push_back(
            {s.name,
             paddedTo(kBlock - marker.size() - s.before) + marker + s.character + "';\r\n",
             {"externo=" + s.character}});
    }

    // A cut-off start that is already invalid is the first block's fault, so none of its lines
    // apply; a valid one waits for the next block, and what follows there decides.
    const std::string first = line + "\n";
    const auto endingIn = [&](const std::string& bytes) {
        std::string content = first + "// ";
        content.append(kBlock - content.size() - bytes.size(), 'p');
        return content + bytes;
    };
    cases.push_back({"E0 80 at the block end, invalid already",
                     endingIn("\xE0\x80") + "\x80\n",
                     {},
                     kNoMapping});
    cases.push_back({"ED A0 at the block end, a surrogate already",
                     endingIn("\xED\xA0") + "\x80\n",
                     {},
                     kNoMapping});
    cases.push_back({"F4 90 at the block end, beyond U+10FFFF already",
                     endingIn("\xF4\x90") + "\x80\x80\n",
                     {},
                     kNoMapping});
    cases.push_back({"F0 9F 98 at the block end, a letter after it",
                     endingIn("\xF0\x9F\x98") + "x\n",
                     {"externo=x"},
                     kNoMapping});
    // A full last block is the last: what it cuts off is its own fault.
    cases.push_back(
        {"E2 82 at the end of a file of one full block", endingIn("\xE2\x82"), {}, kNoMapping});

    // Block 1 ends with a whole line; block 2 holds a faulty byte.
    const std::string primeiro = "const IP_EXTERNO = 'primeiro';\n";
    const std::string whole = paddedTo(kBlock - primeiro.size()) + primeiro;
    EXPECT_EQ(whole.size(), kBlock);
    cases.push_back({"lines of earlier blocks apply before a fault",
                     whole + "const IP_INTERNO = 'conex\xE3o';\n",
                     {"externo=primeiro"},
                     kNoMapping});
    std::string filled = "const IP_INTERNO = 'a';\n// ";
    filled.append(kBlock - filled.size(), 'p');
    cases.push_back({"a fault in the second block keeps the first block's lines",
                     filled + "\nconst IP_EXTERNO = '\xFF';\n",
                     {"interno=a"},
                     kNoMapping});

    // The last line wins, over many blocks.
    std::string many;
    Calls manyCalls;
    for (int i = 0; i < 3000; ++i) {
        many += "const IP_EXTERNO = 'h" + std::to_string(i) + "';\r\n";
        manyCalls.push_back("externo=h" + std::to_string(i));
    }
    cases.push_back({"many blocks, every line applied in order", many, manyCalls});

    // Code units and surrogate pairs split by the block end, in both byte orders.
    std::u16string text;
    for (int i = 0; i < 700; ++i) {
        text += u"// ção \U0001F600\r\n";
    }
    text += u"const IP_INTERNO = '10.0.0.1:ção';\n";
    cases.push_back({"UTF-16 little-endian across blocks",
                     "\xFF\xFE" + utf16Bytes(text, ByteOrder::LittleEndian),
                     {"interno=10.0.0.1:ção"}});
    cases.push_back({"UTF-16 big-endian across blocks",
                     "\xFE\xFF" + utf16Bytes(text, ByteOrder::BigEndian),
                     {"interno=10.0.0.1:ção"}});
    return cases;
}

void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.write("config.js", c.content);
        RecordingTarget target;
        EXPECT_EQ(test::thrownMessage<Error>([&] { SettingsFile::read(path, target); }), c.error);
        EXPECT_EQ(target.calls, c.calls);
    }
}

TEST(SettingsFileCases, LinesAndEncodings) {
    expectCases(linesAndEncodings());
}

TEST(SettingsFileCases, BlockEnds) {
    expectCases(blockEnds());
}

}  // namespace
}  // namespace quelvar
