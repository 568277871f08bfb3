#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "checks/CheckTab.h"
#include "checks/Product.h"

namespace quelvar {

class RestClient;
class RestRequest;
class RestResponse;

// The window's service-profile members, shared by every run.
struct ServiceProfile {
    RestClient& client;
    RestRequest& request;
    RestResponse& response;
};

// Returns the status service endpoint built in (the QUELVAR_STATUS_URL build setting).
std::string defaultStatusEndpoint();

// Returns the status service's request body for a URL: {"requestUrl":"..."} without white
// space, the URL written as a JSON string. A quotation mark, a backslash and the control
// characters are escaped; every other character, "/" included, stands unchanged, so ordinary
// URLs appear byte for byte.
std::string statusRequestBody(std::string_view url);

// Performs the external check of a product: appends "Testando Conexão Externa...", calls
// started, asks the status service at the endpoint about the external URL through the service
// profile, appends the verdict line, shows at most one external indicator and reports the
// cause of the verdict to the tab. Lets no error escape: a failure anywhere, also in started,
// shows the red indicator and appends "Conexão Externa - Erro", and its message is the cause.
void checkExternal(const Product& product, CheckTab& tab, ServiceProfile service,
                   const std::string& endpoint, const std::string& externalUrl,
                   const std::function<void()>& started = {});

}  // namespace quelvar
