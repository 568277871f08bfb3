#include "status/RequestAdmission.h"

#include <algorithm>

#include "text/Ascii.h"
#include "text/MediaType.h"

namespace quelvar::status {

namespace {

constexpr std::string_view kStatusPath = "/v1/status";
constexpr std::string_view kHealthPath = "/healthcheck";
constexpr std::string_view kMetricsPath = "/metrics";

// Returns the path of a request target: the origin form as it is, the absolute form
// ("http://host/v1/status", RFC 9112 section 3.2.2, which a server must accept) without its
// scheme and authority, and without the query.
std::string_view targetPath(std::string_view target) {
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (startsWithIgnoringCase(target, scheme)) {
            const auto slash = target.find('/', scheme.size());
            target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
            break;
        }
    }
    return target.substr(0, target.find('?'));
}

// Returns what is wrong with the head's framing, or nothing. A proxy in front may read such a
// head otherwise than this server, which would let a second request hide in this one's body.
std::optional<RequestRejection> framingFault(const RequestHead& head, bool http11,
                                             std::size_t maxBodyBytes, Admission& admission) {
    const int hosts = head.count("Host");
    const int lengths = head.count("Content-Length");
    const int encodings = head.count("Transfer-Encoding");
    if (hosts > 1) {
        return RequestRejection{400, "more than one Host"};
    }
    if (hosts == 0 && http11) {
        return RequestRejection{400, "Host is missing"};
    }
    if (lengths > 1) {
        return RequestRejection{400, "more than one Content-Length"};
    }
    if (lengths == 1 && encodings > 0) {
        return RequestRejection{400, "Content-Length together with Transfer-Encoding"};
    }
    if (encodings > 1) {
        return RequestRejection{400, "more than one Transfer-Encoding"};
    }
    if (encodings == 1) {
        if (!http11) {
            return RequestRejection{400, "Transfer-Encoding in an HTTP/1.0 request"};
        }
        // RFC 9112 section 6.1: a server that does not understand a transfer coding answers
        // 501, since it cannot tell where the body ends.
        if (!equalsIgnoringCase(*head.value("Transfer-Encoding"), "chunked")) {
            return RequestRejection{501, "Transfer-Encoding other than chunked"};
        }
        admission.chunked = true;
    }
    if (lengths == 1) {
        const std::string_view text = *head.value("Content-Length");
        if (text.empty() ||
            !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return RequestRejection{400, "Content-Length is not a number"};
        }
        const std::string_view digits =
            text.substr(std::min(text.find_first_not_of('0'), text.size()));
        // Beyond 19 digits the number may not fit 64 bits; it is far beyond any limit anyway.
        if (digits.size() > 19) {
            return Refusal::bodyTooLarge(maxBodyBytes);
        }
        admission.contentLength = std::stoull(std::string(digits.empty() ? "0" : digits));
    }
    return std::nullopt;
}

}  // namespace

RequestRejection Refusal::malformedHead() {
    return {400, "malformed request head"};
}

RequestRejection Refusal::headTooLarge() {
    return {431, "request header fields too large"};
}

RequestRejection Refusal::requestLineTooLong() {
    return {414, "request target too long"};
}

RequestRejection Refusal::unsupportedVersion() {
    return {505, "HTTP version not supported"};
}

RequestRejection Refusal::bodyTooLarge(std::size_t maxBodyBytes) {
    return {413, "request body exceeds " + std::to_string(maxBodyBytes) + " bytes"};
}

RequestRejection Refusal::malformedBody() {
    return {400, "malformed chunked body"};
}

RequestRejection Refusal::tooManyChecks() {
    return {503, "too many checks in progress"};
}

RequestRejection Refusal::shuttingDown() {
    return {503, "the service is shutting down"};
}

RequestRejection Refusal::internalError() {
    return {500, "internal error"};
}

Admission admitRequest(const RequestHead& head, Routes routes, std::size_t maxBodyBytes,
                       const std::function<bool()>& takeRateToken) {
    Admission admission;
    if (head.version != "HTTP/1.1" && head.version != "HTTP/1.0") {
        admission.rejection = head.version.starts_with("HTTP/") ? Refusal::unsupportedVersion()
                                                                : Refusal::malformedHead();
        admission.timing = Admission::Timing::AtOnce;
        return admission;
    }
    const bool http11 = head.version == "HTTP/1.1";
    if (auto fault = framingFault(head, http11, maxBodyBytes, admission)) {
        admission.rejection = std::move(fault);
        admission.timing = Admission::Timing::AtOnce;
        return admission;
    }
    const auto expect = head.value("Expect");
    admission.expectsContinue = http11 && expect && equalsIgnoringCase(*expect, "100-continue");

    // %00 is decoded too: the path is then no route's, and "/healthcheck%00xyz" is not
    // taken for "/healthcheck".
    const std::string path = decodePercentEscapes(targetPath(head.target));
    const bool all = routes == Routes::All;
    if (path == kHealthPath) {
        admission.route = Route::Health;
    } else if (all && path == kMetricsPath) {
        admission.route = Route::Metrics;
    } else if (all && path == kStatusPath) {
        admission.route = Route::Status;
    }
    switch (admission.route) {
        case Route::Unknown:
            admission.rejection = RequestRejection{404, "not found"};
            break;
        case Route::Health:
        case Route::Metrics:
            if (head.method != "GET" && head.method != "HEAD") {
                admission.rejection = RequestRejection{405, "method not allowed"};
                admission.allow = "GET, HEAD";
            }
            break;
        case Route::Status: {
            const auto type = head.value("Content-Type");
            if (head.method != "POST") {
                admission.rejection = RequestRejection{405, "method not allowed"};
                admission.allow = "POST";
            } else if (!type || MediaType(*type).type() != "application/json") {
                admission.rejection =
                    RequestRejection{415, "Content-Type must be application/json"};
            } else if (takeRateToken && !takeRateToken()) {
                admission.rejection = RequestRejection{429, "rate limit exceeded"};
            } else if (admission.contentLength > maxBodyBytes) {
                admission.rejection = Refusal::bodyTooLarge(maxBodyBytes);
            }
            break;
        }
    }
    if (!admission.rejection && admission.contentLength > kDiscardLimit) {
        admission.rejection = Refusal::bodyTooLarge(kDiscardLimit);
    }
    // A refusal comes before any body when the client waits for "100 Continue" or announces
    // more than is worth reading.
    if (admission.rejection &&
        (admission.expectsContinue || admission.contentLength > kDiscardLimit)) {
        admission.timing = Admission::Timing::AtOnce;
    }
    return admission;
}

}  // namespace quelvar::status
