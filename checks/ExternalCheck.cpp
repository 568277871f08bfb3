#include "checks/ExternalCheck.h"

#include <memory>
#include <optional>

#include "base/Error.h"
#include "checks/CaughtMessage.h"
#include "checks/ReplyMapping.h"
#include "checks/TRetornoTesteExterno.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"

namespace quelvar {

namespace {

constexpr std::string_view kStarting = "Testando Conexão Externa...";
constexpr std::string_view kOk = "Conexão Externa - ok";
constexpr std::string_view kError = "Conexão Externa - Erro";
constexpr std::string_view kServiceDown = "Serviço de teste de conexão externa fora do ar.";

// The error codes the status service reports for a fetch that failed, with their lines.
struct CodeVerdict {
    std::string_view code;
    std::string_view line;
};
constexpr CodeVerdict kCodeVerdicts[] = {
    {"EPROTO", "Problema com protocolo HTTPS, verifique se está correto."},
    {"ETIMEDOUT", "API não está respondendo"},
    {"CERT_HAS_EXPIRED", "Certificado HTTPS está expirado."},
};

// What the check shows: one line and the external indicator to show, if any; and what led to
// them.
struct Verdict {
    std::optional<Indicator> indicator;
    std::string_view line;
    std::string cause;
};

// Returns the verdict on a mapped reply; throws Error when the reply has no response or the
// chain's first entry is absent.
Verdict decide(const Product& product, const TRetornoTesteExterno& reply) {
    const TResponse* response = reply.response();
    if (response == nullptr) {
        throw Error("The status service's reply holds no response");
    }
    if (!response->chain().empty()) {
        const TChain* first = response->chain().front().get();
        if (first == nullptr) {
            throw Error("The status service's chain begins with an absent entry");
        }
        std::string cause = "first chain statusCode is \"" + first->statusCode() + "\"";
        if (first->statusCode() == "200") {
            return {Indicator::ExternalGreen, kOk, std::move(cause)};
        }
        // The web application counts any other first status as unreachable; the API and
        // WhatsApp servers leave the verdict open.
        if (product.kind == CheckKind::Web) {
            return {Indicator::ExternalRed, kError, std::move(cause)};
        }
        return {std::nullopt, kServiceDown, std::move(cause)};
    }
    std::string cause = "chain is empty and code is \"" + response->code() + "\"";
    for (const CodeVerdict& verdict : kCodeVerdicts) {
        if (response->code() == verdict.code) {
            return {Indicator::ExternalRed, verdict.line, std::move(cause)};
        }
    }
    return {std::nullopt, kServiceDown, std::move(cause)};
}

void appendEscaped(std::string& out, char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            // RFC 8259 section 7: the control characters U+0000 to U+001F must be escaped.
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
                out += kHex[static_cast<unsigned char>(c) & 0xF];
            } else {
                out += c;
            }
    }
}

}  // namespace

std::string defaultStatusEndpoint() {
    return QUELVAR_STATUS_URL;
}

std::string statusRequestBody(std::string_view url) {
    std::string body = "{\"requestUrl\":\"";
    body.reserve(body.size() + url.size() + 2);
    for (const char c : url) {
        appendEscaped(body, c);
    }
    body += "\"}";
    return body;
}

void checkExternal(const Product& product, CheckTab& tab, ServiceProfile service,
                   const std::string& endpoint, const std::string& externalUrl,
                   const std::function<void()>& started) {
    std::string cause;
    try {
        tab.appendLine(std::string(kStarting));
        if (started) {
            started();
        }

        // Every check sets all four anew: the WhatsApp probe leaves GET, no parameters and
        // an empty content type behind.
        service.client.setBaseURL(endpoint);
        service.request.setMethod(RestMethod::Post);
        service.client.setContentType("application/json");
        service.request.clearParameters();
        service.request.addParameter(
            RestParameter{"body", statusRequestBody(externalUrl), ParameterKind::RequestBody,
                          ParameterEncoding::DoNotEncode, "application/json"});
        service.request.execute();

        if (service.response.statusCode() != 200) {
            tab.appendLine(std::string(kServiceDown));
            cause = "status service replied with status " +
                    std::to_string(service.response.statusCode());
        } else {
            const std::unique_ptr<TRetornoTesteExterno> reply =
                converterRetornoExterno(service.response.content());
            if (!reply) {
                throw Error("The status service's reply could not be mapped");
            }
            Verdict verdict = decide(product, *reply);
            if (verdict.indicator) {
                tab.setIndicatorVisible(*verdict.indicator, true);
            }
            tab.appendLine(std::string(verdict.line));
            cause = std::move(verdict.cause);
        }
    } catch (...) {
        tab.setIndicatorVisible(Indicator::ExternalRed, true);
        tab.appendLine(std::string(kError));
        cause = caughtMessage();
    }
    tab.reportCause(Half::External, cause);
}

}  // namespace quelvar
