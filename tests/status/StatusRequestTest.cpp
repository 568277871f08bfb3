#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "status/CheckResult.h"
#include "status/ReplyWriter.h"
#include "status/StatusRequest.h"

using quelvar::status::ChainEntry;
using quelvar::status::CheckResult;
using quelvar::status::ReplyWriter;
using quelvar::status::RequestRejection;
using quelvar::status::StatusRequest;

TEST(StatusRequestTest, TakesRequestUrlOrNamesWhatIsWrong) {
    struct Case {
        const char* name;
        std::string body;
        const char* url;      // expected URL, or nullptr when refused
        const char* message;  // the refusal's message
    };
    const Case cases[] = {
        {"the client's exact body", R"({"requestUrl":"https://example.com/x"})",
         "https://example.com/x", nullptr},
        {"blanks and other members",
         " {\"a\": [1, {\"requestUrl\": 5}], \"requestUrl\" : \"u\", "
         "\"b\": null}\r\n",
         "u", nullptr},
        {"escapes resolved", R"({"requestUrl":"http:\/\/h\u00e9\"/"})", "http://h\xc3\xa9\"/",
         nullptr},
        {"two of them", R"({"requestUrl":"a","requestUrl":"b"})", nullptr,
         "requestUrl is given more than once"},
        {"two of them, one escaped", R"({"requestUrl":"a","request\u0055rl":"a"})", nullptr,
         "requestUrl is given more than once"},
        {"a nested one beside it", R"({"requestUrl":"a","b":{"requestUrl":"c"}})", "a", nullptr},
        {"empty URL is a URL", R"({"requestUrl":""})", "", nullptr},
        {"empty body", "", nullptr, "request body is not valid JSON"},
        {"blanks only", "  \n", nullptr, "request body is not valid JSON"},
        {"not JSON", "requestUrl=x", nullptr, "request body is not valid JSON"},
        {"unterminated", R"({"requestUrl":"x")", nullptr, "request body is not valid JSON"},
        {"trailing comma", R"({"requestUrl":"x",})", nullptr, "request body is not valid JSON"},
        {"trailing text", R"({"requestUrl":"x"} {})", nullptr, "request body is not valid JSON"},
        {"single quotes", R"({'requestUrl':'x'})", nullptr, "request body is not valid JSON"},
        {"comment", R"({"requestUrl":"x" /* c */})", nullptr, "request body is not valid JSON"},
        {"broken UTF-8", "{\"requestUrl\":\"\xff\"}", nullptr, "request body is not valid JSON"},
        {"NUL after the object", std::string("{\"requestUrl\":\"x\"}\0", 19), nullptr,
         "request body is not valid JSON"},
        {"top-level array", R"([{"requestUrl":"x"}])", nullptr,
         "request body is not a JSON object"},
        {"top-level string", R"("http://x/")", nullptr, "request body is not a JSON object"},
        {"top-level null", "null", nullptr, "request body is not a JSON object"},
        {"no requestUrl", R"({"url":"x"})", nullptr, "requestUrl is missing"},
        {"requestUrl only nested", R"({"a":{"requestUrl":"x"}})", nullptr, "requestUrl is missing"},
        {"wrong case", R"({"RequestUrl":"x"})", nullptr, "requestUrl is missing"},
        {"number", R"({"requestUrl":200})", nullptr, "requestUrl is not a string"},
        {"null", R"({"requestUrl":null})", nullptr, "requestUrl is not a string"},
        {"object", R"({"requestUrl":{"href":"x"}})", nullptr, "requestUrl is not a string"},
        {"array", R"({"requestUrl":["x"]})", nullptr, "requestUrl is not a string"},
        {"NUL in the URL", R"({"requestUrl":"http://h/echo\u0000.evil"})", nullptr,
         "requestUrl contains a control character"},
        {"CR in the URL", R"({"requestUrl":"http://h/\r\nX: y"})", nullptr,
         "requestUrl contains a control character"},
        {"LF in the URL", R"({"requestUrl":"http://h/\n"})", nullptr,
         "requestUrl contains a control character"},
        {"tab in the URL", R"({"requestUrl":"http://h/a\tb"})", nullptr,
         "requestUrl contains a control character"},
        {"escape in the URL", R"({"requestUrl":"http://h/\u001b[2J"})", nullptr,
         "requestUrl contains a control character"},
        {"DEL in the URL", R"({"requestUrl":"http://h/\u007f"})", nullptr,
         "requestUrl contains a control character"},
        {"C1 control in the URL", R"({"requestUrl":"http://h/\u0085"})", nullptr,
         "requestUrl contains a control character"},
        {"a second requestUrl after a control character",
         R"({"requestUrl":"http://h/\u0000","requestUrl":"http://h/"})", nullptr,
         "requestUrl is given more than once"},
        {"letters beside C1 pass", R"({"requestUrl":"http://b\u00fccher.example/\u00a0"})",
         "http://b\xc3\xbc"
         "cher.example/\xc2\xa0",
         nullptr},
        {"deep nesting",
         "{\"a\":" + std::string(10000, '[') + std::string(10000, ']') + ",\"requestUrl\":\"x\"}",
         "x", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.url != nullptr) {
            EXPECT_EQ(StatusRequest::parse(c.body).requestUrl(), c.url);
            continue;
        }
        try {
            StatusRequest::parse(c.body);
            ADD_FAILURE() << "accepted";
        } catch (const RequestRejection& rejection) {
            EXPECT_EQ(rejection.httpStatus, 400);
            EXPECT_EQ(rejection.message, c.message);
        }
    }
}

TEST(ReplyWriterTest, WritesCheckAndErrorReplies) {
    CheckResult result;
    result.requestUrl = "http://a/";
    ChainEntry entry;
    entry.url = "http://a/";
    entry.statusCode = 301;
    entry.statusMessage = "Moved \xff";
    entry.redirectUrl = "http://b/";
    using std::chrono::microseconds;
    entry.timings = {microseconds(1), microseconds(2020), microseconds(0), microseconds(999),
                     microseconds(10000)};
    entry.certificateExpiresInDays = 12;
    result.chain.push_back(entry);
    result.code = "ETIMEDOUT";
    result.duration = microseconds(15123456);
    EXPECT_EQ(ReplyWriter::checkReply(result),
              R"({"response":{"requestUrl":"http://a/","chain":[{"url":"http://a/",)"
              R"("statusCode":301,"statusMessage":"Moved )"
              "\xEF\xBF\xBD"
              R"(","redirectUrl":"http://b/","timings":{"dns":0.001,"connect":2.020,)"
              R"("tls":0.000,"firstByte":0.999,"total":10.000},"certificateExpiresInDays":12}],)"
              R"("status":301,"code":"ETIMEDOUT","durationMs":15123.456}})");
    EXPECT_EQ(ReplyWriter::errorReply(413, "too \"big\""),
              R"({"error":{"status":413,"message":"too \"big\""}})");
}

// What a target sends (a reason phrase, a Location) reaches the reply as it came; the reply
// stays JSON whatever the bytes, and keeps every valid sequence.
TEST(ReplyWriterTest, ReplacesEverySequenceThatIsNotUtf8) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;
    };
    const std::string r = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"ASCII", "abc", "abc"},
        {"two, three and four bytes", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
         "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"lone continuation", "a\x80z", "a" + r + "z"},
        {"overlong slash", "\xc0\xaf", r + r},
        {"overlong three bytes", "\xe0\x80\xaf", r + r + r},
        {"surrogate", "\xed\xa0\x80", r + r + r},
        {"above U+10FFFF", "\xf4\x90\x80\x80", r + r + r + r},
        {"cut at the end", "ok\xe2\x82", "ok" + r + r},
        {"NUL passes", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckResult result;
        ChainEntry entry;
        entry.statusMessage = c.in;
        result.chain.push_back(entry);
        const std::string reply = ReplyWriter::checkReply(result);
        rapidjson::Document document;
        document.Parse<rapidjson::kParseValidateEncodingFlag>(reply.data(), reply.size());
        ASSERT_FALSE(document.HasParseError()) << reply;
        const auto& message = document["response"]["chain"][0]["statusMessage"];
        EXPECT_EQ(std::string(message.GetString(), message.GetStringLength()), c.out);
    }
}

TEST(ChainEntryTest, KnowsStandardReasonPhrases) {
    EXPECT_EQ(ChainEntry::standardReasonPhrase(200), "OK");
    EXPECT_EQ(ChainEntry::standardReasonPhrase(308), "Permanent Redirect");
    EXPECT_EQ(ChainEntry::standardReasonPhrase(503), "Service Unavailable");
    EXPECT_EQ(ChainEntry::standardReasonPhrase(299), "");
}
