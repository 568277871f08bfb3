#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace quelvar {
namespace {

TEST(Utf8, AcceptsRfc3629AndReplacesEveryOtherByte) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
        // toValidUtf8 of the bytes, with "?" standing for U+FFFD.
        std::string repaired;
    };
    const Case cases[] = {
        {"ASCII", "plain", true, "plain"},
        {"empty", "", true, ""},
        {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true,
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"highest code point", "\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false, "????"},
        {"overlong slash", "\xC0\xAF", false, "??"},
        {"overlong three bytes", "\xE0\x80\xAF", false, "???"},
        {"surrogate", "a\xED\xA0\x80z", false, "a???z"},
        {"lone continuation byte", "a\x80z", false, "a?z"},
        {"cut at the end", "a\xE2\x82", false, "a??"},
        {"Latin-1", "caf\xE9", false, "caf?"},
        {"five-byte lead", "\xF8\x88\x80\x80\x80", false, "?????"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
        std::string expected;
        for (const char ch : c.repaired) {
            expected += ch == '?' ? std::string("\xEF\xBF\xBD") : std::string(1, ch);
        }
        EXPECT_EQ(toValidUtf8(c.bytes), expected);
    }
}

}  // namespace
}  // namespace quelvar
