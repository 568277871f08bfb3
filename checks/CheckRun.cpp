#include "checks/CheckRun.h"

#include <memory>
#include <thread>

#include "base/Error.h"
#include "checks/CaughtMessage.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"

namespace quelvar {

namespace {

constexpr std::string_view kSeparator = "-----------------------------";
// Appended as a line, it gives the log box two empty lines.
constexpr std::string_view kBlankLines = "\r\n";
constexpr std::string_view kInternalStarting = "Testando Conexão Interna...";
constexpr std::string_view kInternalOk = "Conexão Interna - ok";
constexpr std::string_view kInternalError = "Conexão Interna - Erro";

// Returns the status code of the internal URL's GET through the product's profile; throws
// whatever the profile throws.
int fetchInternal(const Product& product, DirectClient* directClient, ServiceProfile service,
                  const std::string& internalUrl) {
    if (product.probe == ProbeProfile::Direct) {
        if (directClient == nullptr) {
            // The client could not be made during the external check.
            throw Error("No direct client to probe with");
        }
        directClient->get(internalUrl);
        return directClient->responseCode();
    }
    service.client.setBaseURL(internalUrl);
    service.request.setMethod(RestMethod::Get);
    service.request.clearParameters();
    // Without a content type the GET carries no Content-type header.
    service.client.setContentType("");
    // Only the status is judged: a body past the profile's limit is cut, not an error.
    service.request.execute(ReplyUse::StatusOnly);
    return service.response.statusCode();
}

}  // namespace

std::string checkUrl(bool https, std::string_view fieldText, std::string_view pathSuffix) {
    std::string url = https ? "https://" : "http://";
    url += fieldText;
    url += pathSuffix;
    return url;
}

void runCheck(const Product& product, CheckTab& tab, ServiceProfile service,
              const CheckRunSettings& settings) {
    tab.clearLog();
    for (const Indicator indicator : {Indicator::ExternalGreen, Indicator::ExternalRed,
                                      Indicator::InternalGreen, Indicator::InternalRed}) {
        tab.setIndicatorVisible(indicator, false);
    }
    const std::string externalUrl =
        checkUrl(tab.httpsChecked(), tab.externalText(), product.pathSuffix);
    const std::string internalUrl =
        checkUrl(tab.httpsChecked(), tab.internalText(), product.pathSuffix);

    // Owned by the run alone and released when it ends, whatever happened.
    std::unique_ptr<DirectClient> directClient;
    checkExternal(product, tab, service, settings.statusEndpoint, externalUrl, [&] {
        if (product.probe == ProbeProfile::Direct) {
            directClient = std::make_unique<DirectClient>(settings.directTimeouts);
        }
        // After the direct client is made, so that the internal probe is not touched.
        if (!settings.statusEndpointFault.empty()) {
            throw Error(settings.statusEndpointFault);
        }
    });

    tab.appendLine(std::string(kSeparator));
    tab.appendLine(std::string(kBlankLines));

    std::string cause;
    try {
        tab.appendLine(std::string(kInternalStarting));
        if (settings.sleep) {
            settings.sleep(settings.pause);
        } else {
            std::this_thread::sleep_for(settings.pause);
        }
        const int status = fetchInternal(product, directClient.get(), service, internalUrl);
        if (status == 200) {
            tab.setIndicatorVisible(Indicator::InternalGreen, true);
            tab.appendLine(std::string(kInternalOk));
        }
        // Any other status the profile returns without an error leaves the verdict blank.
        cause = "reply status " + std::to_string(status);
    } catch (...) {
        tab.setIndicatorVisible(Indicator::InternalRed, true);
        tab.appendLine(std::string(kInternalError));
        cause = caughtMessage();
    }
    tab.reportCause(Half::Internal, cause);
}

}  // namespace quelvar
