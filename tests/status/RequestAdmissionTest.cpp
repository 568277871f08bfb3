// Reading a request head and judging it, without sockets: what each head is refused with, or
// which route it reaches and how its body is framed.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "status/RequestAdmission.h"
#include "status/RequestHead.h"

namespace status = quelvar::status;
using status::Admission;
using status::Route;

namespace {

constexpr std::size_t kMaxBody = 16 * 1024;

struct Verdict {
    int status = 0;  // 0: admitted
    std::string message;
    Admission::Timing timing = Admission::Timing::AfterBody;
    Route route = Route::Unknown;
    std::string allow;
    bool chunked = false;
    std::uint64_t contentLength = 0;
    bool expectsContinue = false;
};

// What a table row expects of an admitted head, or of one refused after its body.
struct Expected {
    int status = 0;  // 0: admitted
    const char* message = "";
    Route route = Route::Unknown;
    const char* allow = "";
    bool chunked = false;
    std::uint64_t contentLength = 0;
    bool expectsContinue = false;
};

// Reads and judges the head (the text before its blank line), the rate never exhausted.
Verdict judge(const std::string& head, status::Routes routes = status::Routes::All,
              bool rateLeft = true) {
    Verdict verdict;
    try {
        const Admission admission = status::admitRequest(status::RequestHead::parse(head), routes,
                                                         kMaxBody, [rateLeft] { return rateLeft; });
        if (admission.rejection) {
            verdict.status = admission.rejection->httpStatus;
            verdict.message = admission.rejection->message;
        }
        verdict.timing = admission.timing;
        verdict.route = admission.route;
        verdict.allow = admission.allow;
        verdict.chunked = admission.chunked;
        verdict.contentLength = admission.contentLength;
        verdict.expectsContinue = admission.expectsContinue;
    } catch (const status::RequestRejection& rejection) {
        verdict.status = rejection.httpStatus;
        verdict.message = rejection.message;
        verdict.timing = Admission::Timing::AtOnce;
    }
    return verdict;
}

const std::string kPost = "POST /v1/status HTTP/1.1\r\nHost: x\r\nContent-Type: application/json";

}  // namespace

TEST(RequestAdmissionTest, RefusesBrokenOrAmbiguousHeadsAtOnce) {
    struct Case {
        const char* name;
        std::string head;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"two parts only", "GET /healthcheck\r\nHost: x", 400, "malformed request line"},
        {"NUL in the target", std::string("GET /health\0x HTTP/1.1\r\nHost: x", 31), 400,
         "malformed request line"},
        {"tab in the target", "GET /a\tb HTTP/1.1\r\nHost: x", 400, "malformed request line"},
        {"method not a token", "G(T /healthcheck HTTP/1.1\r\nHost: x", 400,
         "malformed request line"},
        {"NUL in a value", std::string("GET / HTTP/1.1\r\nHost: x\r\nX-A: a\0b", 34), 400,
         "malformed header field value"},
        {"bare LF inside a value", "GET / HTTP/1.1\r\nHost: x\nX-A: b", 400,
         "malformed header field value"},
        {"obs-fold", "GET / HTTP/1.1\r\nHost: x\r\nX-A: a\r\n b", 400, "folded header field line"},
        {"obs-fold by tab", "GET / HTTP/1.1\r\nHost: x\r\nX-A: a\r\n\tb", 400,
         "folded header field line"},
        {"empty name", "GET / HTTP/1.1\r\nHost: x\r\n: v", 400, "malformed header field name"},
        {"no colon", "GET / HTTP/1.1\r\nHost: x\r\nX-A", 400, "malformed header field name"},
        {"blank before the colon", "GET / HTTP/1.1\r\nHost : x", 400,
         "malformed header field name"},
        {"HTTP/2.0", "GET /healthcheck HTTP/2.0\r\nHost: x", 505, "HTTP version not supported"},
        {"HTTP/1.2", "GET /healthcheck HTTP/1.2\r\nHost: x", 505, "HTTP version not supported"},
        {"no HTTP at all", "GET /healthcheck ICY", 400, "malformed request head"},
        {"no Host in HTTP/1.1", "GET /healthcheck HTTP/1.1", 400, "Host is missing"},
        {"two Hosts", "GET /healthcheck HTTP/1.0\r\nHost: x\r\nhost: x", 400, "more than one Host"},
        {"two lengths", kPost + "\r\nContent-Length: 5\r\nContent-Length: 5", 400,
         "more than one Content-Length"},
        {"length and chunked", kPost + "\r\nContent-Length: 5\r\nTransfer-Encoding: chunked", 400,
         "Content-Length together with Transfer-Encoding"},
        {"two codings", kPost + "\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked", 400,
         "more than one Transfer-Encoding"},
        {"chunked in HTTP/1.0",
         "POST /v1/status HTTP/1.0\r\nContent-Type: application/json\r\n"
         "Transfer-Encoding: chunked",
         400, "Transfer-Encoding in an HTTP/1.0 request"},
        {"gzip, chunked", kPost + "\r\nTransfer-Encoding: gzip, chunked", 501,
         "Transfer-Encoding other than chunked"},
        {"length with a sign", kPost + "\r\nContent-Length: +5", 400,
         "Content-Length is not a number"},
        {"length of letters", kPost + "\r\nContent-Length: abc", 400,
         "Content-Length is not a number"},
        {"two numbers in one length", kPost + "\r\nContent-Length: 5, 5", 400,
         "Content-Length is not a number"},
        {"empty length", kPost + "\r\nContent-Length:", 400, "Content-Length is not a number"},
        {"length beyond 64 bits", kPost + "\r\nContent-Length: 99999999999999999999", 413,
         "request body exceeds 16384 bytes"},
        {"a refusal that expects 100-continue",
         kPost + "\r\nExpect: 100-continue\r\nX: y\r\n"
                 "Content-Length: 20000",
         413, "request body exceeds 16384 bytes"},
        {"health with a body over the discard size",
         "POST /healthcheck HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000", 405,
         "method not allowed"},
        {"health GET with a body over the discard size",
         "GET /healthcheck HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000", 413,
         "request body exceeds 1048576 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Verdict verdict = judge(c.head);
        EXPECT_EQ(verdict.status, c.status);
        EXPECT_EQ(verdict.message, c.message);
        EXPECT_EQ(verdict.timing, Admission::Timing::AtOnce);
    }
}

TEST(RequestAdmissionTest, RoutesAndFramesWhatItAdmits) {
    struct Case {
        const char* name;
        std::string head;
        status::Routes routes;
        Expected expected;
    };
    const auto all = status::Routes::All;
    const Case cases[] = {
        {"health", "GET /healthcheck HTTP/1.1\r\nHost: x", all, {.route = Route::Health}},
        {"health by HEAD", "HEAD /healthcheck HTTP/1.1\r\nHost: x", all, {.route = Route::Health}},
        {"health in HTTP/1.0 without Host",
         "GET /healthcheck HTTP/1.0",
         all,
         {.route = Route::Health}},
        {"health with a query",
         "GET /healthcheck?x=1 HTTP/1.1\r\nHost: x",
         all,
         {.route = Route::Health}},
        {"absolute form",
         "GET HTTP://x:80/metrics HTTP/1.1\r\nHost: x",
         all,
         {.route = Route::Metrics}},
        {"absolute form without a path",
         "GET http://x HTTP/1.1\r\nHost: x",
         all,
         {.status = 404, .message = "not found"}},
        {"escaped letter", "GET /health%63heck HTTP/1.1\r\nHost: x", all, {.route = Route::Health}},
        {"escaped NUL",
         "GET /healthcheck%00 HTTP/1.1\r\nHost: x",
         all,
         {.status = 404, .message = "not found"}},
        {"metrics on a health-only listener",
         "GET /metrics HTTP/1.1\r\nHost: x",
         status::Routes::HealthOnly,
         {.status = 404, .message = "not found"}},
        {"status on a health-only listener",
         kPost,
         status::Routes::HealthOnly,
         {.status = 404, .message = "not found"}},
        {"POST to health",
         "POST /healthcheck HTTP/1.1\r\nHost: x\r\nContent-Length: 2",
         all,
         {.status = 405,
          .message = "method not allowed",
          .route = Route::Health,
          .allow = "GET, HEAD",
          .contentLength = 2}},
        {"GET to status",
         "GET /v1/status HTTP/1.1\r\nHost: x",
         all,
         {.status = 405, .message = "method not allowed", .route = Route::Status, .allow = "POST"}},
        {"status as text",
         "POST /v1/status HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: 3",
         all,
         {.status = 415,
          .message = "Content-Type must be application/json",
          .route = Route::Status,
          .contentLength = 3}},
        {"status without a type",
         "POST /v1/status HTTP/1.1\r\nHost: x",
         all,
         {.status = 415,
          .message = "Content-Type must be application/json",
          .route = Route::Status}},
        {"status announcing more than the limit: read, then refused",
         kPost + "\r\nContent-Length: 16385",
         all,
         {.status = 413,
          .message = "request body exceeds 16384 bytes",
          .route = Route::Status,
          .contentLength = 16385}},
        {"status with a charset and trailing blanks on its length",
         "POST /v1/status HTTP/1.1\r\nHost: x\r\ncontent-type: Application/JSON; charset=utf-8"
         "\r\nContent-Length: 36  ",
         all,
         {.route = Route::Status, .contentLength = 36}},
        {"status with leading zeros on its length",
         kPost + "\r\nContent-Length: 0016384",
         all,
         {.route = Route::Status, .contentLength = 16384}},
        {"status chunked",
         kPost + "\r\nTransfer-Encoding: Chunked",
         all,
         {.route = Route::Status, .chunked = true}},
        {"status expecting 100-continue",
         kPost + "\r\nExpect: 100-Continue\r\nContent-Length: 9",
         all,
         {.route = Route::Status, .contentLength = 9, .expectsContinue = true}},
        {"a refused request's body is read when it is small",
         "GET /nowhere HTTP/1.1\r\nHost: x\r\nContent-Length: 1000",
         all,
         {.status = 404, .message = "not found", .contentLength = 1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Verdict verdict = judge(c.head, c.routes);
        EXPECT_EQ(verdict.status, c.expected.status);
        EXPECT_EQ(verdict.message, c.expected.message);
        EXPECT_EQ(verdict.timing, Admission::Timing::AfterBody);
        EXPECT_EQ(verdict.route, c.expected.route);
        EXPECT_EQ(verdict.allow, c.expected.allow);
        EXPECT_EQ(verdict.chunked, c.expected.chunked);
        EXPECT_EQ(verdict.contentLength, c.expected.contentLength);
        EXPECT_EQ(verdict.expectsContinue, c.expected.expectsContinue);
    }
}

TEST(RequestAdmissionTest, AsksForARateTokenOnlyForACheckOtherwiseAdmitted) {
    int asked = 0;
    const auto count = [&asked] {
        ++asked;
        return false;
    };
    const auto judgeCounting = [&count](const std::string& head) {
        return status::admitRequest(status::RequestHead::parse(head), status::Routes::All, kMaxBody,
                                    count);
    };
    EXPECT_FALSE(judgeCounting("GET /healthcheck HTTP/1.1\r\nHost: x").rejection);
    EXPECT_EQ(judgeCounting("GET /v1/status HTTP/1.1\r\nHost: x").rejection->httpStatus, 405);
    EXPECT_EQ(asked, 0);
    const Admission limited = judgeCounting(kPost + "\r\nContent-Length: 9");
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(limited.rejection);
    EXPECT_EQ(limited.rejection->httpStatus, 429);
    EXPECT_EQ(limited.rejection->message, "rate limit exceeded");
    EXPECT_EQ(limited.timing, Admission::Timing::AfterBody);
}

TEST(RequestAdmissionTest, KeepsEveryFieldInItsOrderWithoutTheBlanksAtItsEnds) {
    const status::RequestHead head =
        status::RequestHead::parse("GET /a?b HTTP/1.1\r\nHost:x\r\nX-A: \t one two \t\r\nx-a: 3");
    EXPECT_EQ(head.method, "GET");
    EXPECT_EQ(head.target, "/a?b");
    EXPECT_EQ(head.version, "HTTP/1.1");
    ASSERT_EQ(head.fields.size(), 3u);
    EXPECT_EQ(head.fields[1].first, "X-A");
    EXPECT_EQ(head.fields[1].second, "one two");
    EXPECT_EQ(head.count("x-A"), 2);
    EXPECT_EQ(head.value("X-a"), "one two");
    EXPECT_EQ(head.value("Host"), "x");
    EXPECT_FALSE(head.value("Missing"));
}
