#include "text/Utf8Decoder.h"

#include <gtest/gtest.h>

#include <string>

#include "text/Utf8.h"

namespace quelvar {
namespace {

// Returns the UTF-8 form of the conversion, "[fault]" when it fails.
std::string converted(std::string_view bytes, Utf8Faults faults) {
    std::u16string text = u"<";
    if (!utf16FromUtf8(bytes, faults, text)) {
        return text == u"<" ? "[fault]" : "[fault after appending]";
    }
    return utf8FromUtf16(text).substr(1);
}

TEST(Utf8Decoder, ConversionFailsOrReplacesEachLongestValidStart) {
    struct Case {
        const char* name;
        std::string bytes;
        // The replaced form, with "?" standing for U+FFFD; empty for valid bytes.
        std::string replaced;
    };
    const Case cases[] = {
        {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", ""},
        {"highest code point", "\xF4\x8F\xBF\xBF", ""},
        {"empty", "", ""},
        {"Latin-1 letter before a letter", "a\xE9z", "a?z"},
        {"three bytes cut short by a letter", "\xE2\x82x", "?x"},
        {"four bytes cut short by the end", "a\xF0\x9F\x98", "a?"},
        {"two continuation bytes", "\x80\xBF", "??"},
        {"overlong slash", "\xC0\xAF", "??"},
        {"overlong three bytes", "\xE0\x80\xAF", "???"},
        {"encoded surrogate", "\xED\xA0\x80", "???"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????"},
        {"F5 lead", "\xF5\x80", "??"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool valid = c.replaced.empty();
        std::string expected;
        for (const char ch : c.replaced) {
            expected += ch == '?' ? std::string("\xEF\xBF\xBD") : std::string(1, ch);
        }
        EXPECT_EQ(isValidUtf8(c.bytes), valid);
        EXPECT_EQ(converted(c.bytes, Utf8Faults::Fail), valid ? c.bytes : "[fault]");
        EXPECT_EQ(converted(c.bytes, Utf8Faults::Replace), valid ? c.bytes : expected);
    }
}

TEST(Utf8Decoder, CutOffTailIsOnlyAValidStart) {
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t tail;
    };
    const Case cases[] = {
        {"nothing", "", 0},
        {"ASCII", "ab", 0},
        {"whole four bytes", "a\xF0\x9F\x98\x80", 0},
        {"lead of two", "a\xC3", 1},
        {"three bytes, two present", "a\xE2\x82", 2},
        {"four bytes, three present", "a\xF0\x9F\x98", 3},
        {"four bytes, one present", "\xF0", 1},
        {"E0 with an overlong second byte", "a\xE0\x80", 0},
        {"ED with a surrogate's second byte", "a\xED\xA0", 0},
        {"F0 with an overlong second byte", "a\xF0\x80\x80", 0},
        {"F4 beyond U+10FFFF", "a\xF4\x90", 0},
        {"lead that begins nothing", "a\xF5", 0},
        {"lone continuation", "a\x80", 0},
        {"continuation after a whole character", "\xC3\xA9\x80", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cutOffUtf8Tail(c.bytes), c.tail);
    }
}

// The same text in two blocks, split at every place, decodes as it does in one.
TEST(Utf8Decoder, CharactersSplitBetweenBlocksDecodeWhole) {
    const std::string bytes = "a\xC3\xA3-\xE2\x82\xAC-\xF0\x9F\x98\x80z";
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
        SCOPED_TRACE(split);
        Utf8Decoder decoder(Utf8Faults::Fail);
        std::u16string text;
        ASSERT_TRUE(decoder.decode(std::string_view(bytes).substr(0, split), false, text));
        ASSERT_TRUE(decoder.decode(std::string_view(bytes).substr(split), true, text));
        EXPECT_FALSE(decoder.carriesOver());
        EXPECT_EQ(utf8FromUtf16(text), bytes);
    }
}

TEST(Utf8Decoder, CarriedStartIsAFaultAtTheEnd) {
    Utf8Decoder strict(Utf8Faults::Fail);
    std::u16string text;
    ASSERT_TRUE(strict.decode("ab\xF0\x9F", false, text));
    EXPECT_EQ(text, u"ab");
    EXPECT_TRUE(strict.carriesOver());
    EXPECT_FALSE(strict.decode("", true, text));
    EXPECT_EQ(text, u"ab");

    Utf8Decoder replacing(Utf8Faults::Replace);
    text.clear();
    ASSERT_TRUE(replacing.decode("ab\xF0\x9F", false, text));
    ASSERT_TRUE(replacing.decode("x", false, text));
    EXPECT_EQ(text, u"ab\uFFFDx");
    EXPECT_FALSE(replacing.carriesOver());
}

TEST(Utf8Decoder, TheConversionGetsWholeTextOnly) {
    // A conversion that records what it is handed, as the platform's would receive it.
    static std::string handed;
    const Utf8Conversion recording = [](std::string_view bytes, Utf8Faults faults,
                                        std::u16string& text) {
        handed += "[" + std::string(bytes) + "]";
        return utf16FromUtf8(bytes, faults, text);
    };
    handed.clear();
    Utf8Decoder decoder(Utf8Faults::Fail, recording);
    std::u16string text;
    ASSERT_TRUE(decoder.decode("a\xE2", false, text));
    ASSERT_TRUE(decoder.decode("\x82", false, text));
    ASSERT_TRUE(
        decoder.decode("\xAC"
                       "b",
                       true, text));
    // Nothing is handed over while only a cut-off start is there.
    EXPECT_EQ(handed,
              "[a][\xE2\x82\xAC"
              "b]");
}

}  // namespace
}  // namespace quelvar
