#include "text/MediaType.h"

#include <gtest/gtest.h>

#include <string>

namespace quelvar {
namespace {

TEST(MediaTypeParameter, FollowsTheCharsetRules) {
    struct Case {
        const char* name;
        std::string contentType;
        std::string charset;
    };
    const Case cases[] = {
        {"plain", "application/json; charset=iso-8859-1", "iso-8859-1"},
        {"name in any case", "text/html; CharSet=UTF-8", "UTF-8"},
        {"blanks around", "text/plain ;  charset =  koi8-r  ", "koi8-r"},
        {"single then double quotes", "text/plain; charset='\"latin1\"'", "latin1"},
        {"double quotes", "text/plain; charset=\"utf-8\"", "utf-8"},
        {"double then single quotes stay single", "text/plain; charset=\"'x'\"", "'x'"},
        {"after another parameter", "text/plain; format=flowed; charset=cp1252", "cp1252"},
        {"the first of two", "text/plain; charset=a; charset=b", "a"},
        {"a parameter without value is passed over", "text/plain; charset; charset=b", "b"},
        {"none", "application/json", ""},
        {"not a parameter name suffix", "text/plain; xcharset=cp1252", ""},
        {"empty header", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MediaType(c.contentType).parameter("charset").value_or(""), c.charset);
    }
}

TEST(MediaTypeType, IsTrimmedAndLowerCase) {
    struct Case {
        const char* name;
        std::string contentType;
        std::string type;
    };
    const Case cases[] = {
        {"bare", "application/json", "application/json"},
        {"upper case with parameters", " Application/JSON ; charset=utf-8", "application/json"},
        {"multipart", "multipart/byteranges; boundary=\"b 1\"", "multipart/byteranges"},
        {"empty", "", ""},
        {"only parameters", "; charset=utf-8", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MediaType(c.contentType).type(), c.type);
    }
    const MediaType multipart("Multipart/Mixed; boundary=\"b 1\"");
    EXPECT_TRUE(multipart.typeStartsWith("multipart/"));
    EXPECT_EQ(multipart.parameter("BOUNDARY"), "b 1");
    EXPECT_FALSE(multipart.parameter("charset").has_value());
}

}  // namespace
}  // namespace quelvar
