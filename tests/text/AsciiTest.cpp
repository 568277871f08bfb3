#include "text/Ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace quelvar {
namespace {

TEST(AsciiCase, ComparesLettersWithoutRegardToCaseAndNothingElse) {
    struct Case {
        const char* name;
        std::string a;
        std::string b;
        bool equal;
        bool prefix;
    };
    const Case cases[] = {
        {"same", "chunked", "chunked", true, true},
        {"mixed case", "Content-Length", "content-LENGTH", true, true},
        {"different length", "http", "https", false, false},
        {"prefix in other case", "HTTPS://host", "https://", false, true},
        {"empty", "", "", true, true},
        // Bytes above 0x7F are never folded, whatever the locale: "É" and "é" in Latin-1.
        {"Latin-1 letters stay apart", "\xC9", "\xE9", false, false},
        {"letters next to the alphabet", "@[`{", "`{@[", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(equalsIgnoringCase(c.a, c.b), c.equal);
        EXPECT_EQ(startsWithIgnoringCase(c.a, c.b), c.prefix);
    }
    EXPECT_EQ(toLower("MiXeD-\xC9 1"), "mixed-\xC9 1");
    EXPECT_EQ(toUpper("http_proxy-\xE9"), "HTTP_PROXY-\xE9");
}

TEST(AsciiTrim, RemovesBlanksAndOnlyThoseAsked) {
    struct Case {
        const char* name;
        std::string text;
        std::string blanks;
        std::string blanksAndLineBreaks;
    };
    const Case cases[] = {
        {"both ends", " \t value \t", "value", "value"},
        {"inner blanks stay", "  a b  ", "a b", "a b"},
        {"line break", "HTTP/1.1 200 OK\r\n", "HTTP/1.1 200 OK\r\n", "HTTP/1.1 200 OK"},
        {"only blanks", " \t ", "", ""},
        {"empty", "", "", ""},
        {"other control characters stay", "\va\f", "\va\f", "\va\f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(trimBlanks(c.text), c.blanks);
        EXPECT_EQ(trimBlanksAndLineBreaks(c.text), c.blanksAndLineBreaks);
    }
}

TEST(PercentEscapes, DecodeEveryPairOfHexDigitsAndKeepTheRest) {
    struct Case {
        const char* name;
        std::string text;
        std::string decoded;
    };
    const Case cases[] = {
        {"letter", "/health%63heck", "/healthcheck"},
        {"either case", "%2f%2F", "//"},
        {"NUL is a byte like any other", "/a%00b", std::string("/a\0b", 4)},
        {"high byte", "%C3%A9", "\xc3\xa9"},
        {"one digit only", "%6", "%6"},
        {"no digits at the end", "a%", "a%"},
        {"not hexadecimal", "%zz%4g", "%zz%4g"},
        {"escaped percent is not decoded twice", "%2541", "%41"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodePercentEscapes(c.text), c.decoded);
    }
}

}  // namespace
}  // namespace quelvar
