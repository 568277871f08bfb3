#include "http/RestRequest.h"

#include <algorithm>

#include "base/Error.h"
#include "http/CharsetConversion.h"
#include "http/ContentDecoder.h"
#include "http/RestClient.h"
#include "http/RestClientSession.h"
#include "http/RestResponse.h"
#include "http/UrlEncoding.h"

namespace quelvar {

namespace {

constexpr std::string_view kUserAgent = "Quelvar-RESTClient/1.0";
constexpr int kMaxRedirects = 5;

using Session = RestClient::Session;

// Sends the request; a certificate failure is accepted once: the same request goes again with
// the certificate checks off. A failure that persists is reported with its own text.
Session::Reply performAcceptingCertificate(Session& session, Session::Exchange exchange) {
    try {
        return session.perform(exchange);
    } catch (const CertificateError&) {
        exchange.certificateCheck = Session::CertificateCheck::Ignore;
    }
    try {
        return session.perform(exchange);
    } catch (const CertificateError& error) {
        throw Error(error.what());
    }
}

std::vector<std::string> headerLines(const Session::Reply& reply) {
    std::vector<std::string> lines;
    lines.reserve(reply.headers.size());
    for (const auto& [name, value] : reply.headers) {
        lines.push_back(name + "=" + value);
    }
    return lines;
}

}  // namespace

RestRequest::RestRequest(RestClient& client, RestResponse& response)
    : m_client(client), m_response(response) {}

RestParameter& RestRequest::addParameter(RestParameter parameter) {
    const auto existing =
        std::find_if(m_parameters.begin(), m_parameters.end(),
                     [&parameter](const RestParameter& p) { return p.name == parameter.name; });
    if (existing != m_parameters.end()) {
        *existing = std::move(parameter);
        return *existing;
    }
    return m_parameters.emplace_back(std::move(parameter));
}

void RestRequest::execute(ReplyUse use) {
    try {
        executeExchange(use);
    } catch (const Error& error) {
        throw Error(std::string("REST request failed: ") + error.what());
    }
}

void RestRequest::executeExchange(ReplyUse use) {
    if (m_client.baseURL().empty()) {
        throw Error("Invalid URL: \"\"");
    }
    Session::Exchange exchange;
    exchange.url = encodeRequestUrl(m_client.baseURL());
    exchange.method = m_method;
    exchange.userAgent = kUserAgent;
    exchange.timeouts = m_client.timeouts();
    exchange.deadline = Session::Clock::now() + exchange.timeouts.exchange;
    exchange.replyUse = use;

    if (m_method == RestMethod::Post) {
        // The body's media type, from the last parameter that names one, becomes the
        // client's content type.
        const auto typed =
            std::find_if(m_parameters.rbegin(), m_parameters.rend(),
                         [](const RestParameter& p) { return !p.contentType.empty(); });
        if (typed != m_parameters.rend()) {
            m_client.setContentType(typed->contentType);
        }
        // The body is the text in the system's ANSI code page with the do-not-encode option,
        // UTF-8 without it.
        const auto body = std::find_if(
            m_parameters.begin(), m_parameters.end(),
            [](const RestParameter& p) { return p.kind == ParameterKind::RequestBody; });
        if (body != m_parameters.end()) {
            exchange.body = body->encoding == ParameterEncoding::DoNotEncode
                                ? toAnsiCodePage(body->value)
                                : body->value;
        }
    }

    exchange.headers = {"Accept: " + m_client.accept(),
                        "Accept-Charset: " + m_client.acceptCharset()};
    if (!m_client.contentType().empty()) {
        exchange.headers.push_back("Content-type: " + m_client.contentType());
    } else if (m_method == RestMethod::Post) {
        // A POST without a media type of its own goes without Content-Type: the line without
        // value keeps libcurl from adding its form type; the WinHTTP half adds none.
        exchange.headers.push_back("Content-Type:");
    }

    int redirects = 0;
    for (;;) {
        Session::Reply reply = performAcceptingCertificate(m_client.session(), exchange);
        // Every 3xx reply with a Location is followed and counted; one without is final.
        const bool redirect =
            reply.statusCode >= 300 && reply.statusCode <= 399 && !reply.redirectURL.empty();
        if (redirect) {
            if (++redirects > kMaxRedirects) {
                throw Error("Maximum number of redirections (" + std::to_string(kMaxRedirects) +
                            ") exceeded");
            }
            const int status = reply.statusCode;
            if (exchange.method == RestMethod::Post &&
                (status == 301 || status == 302 || status == 303)) {
                exchange.method = RestMethod::Get;
                exchange.body.clear();
            }
            exchange.url = reply.redirectURL;
            continue;
        }

        const std::string contentType = reply.header("Content-Type");
        const std::string contentEncoding = reply.header("Content-Encoding");
        std::string content =
            ContentDecoder::decode(reply.statusCode, contentType, contentEncoding, reply.body,
                                   reply.bodyCut ? BodyEnd::Cut : BodyEnd::Complete);
        m_response.assign(reply.statusCode, reply.statusText, std::move(content), contentType,
                          contentEncoding, reply.header("Server"), headerLines(reply),
                          std::move(reply.body), exchange.url);
        // A status of 500 to 599 is an error only when the client asks for it; the reply is
        // kept all the same.
        if (m_client.raiseExceptionOn500() && reply.statusCode >= 500 && reply.statusCode <= 599) {
            throw Error(std::to_string(reply.statusCode) + " " + reply.statusText);
        }
        return;
    }
}

}  // namespace quelvar
