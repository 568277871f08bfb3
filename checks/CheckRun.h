#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "CheckTab.h"
#include "DirectClient.h"
#include "Product.h"

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

// What a run needs beyond its tab: the status service's endpoint, the pause before the
// internal probe and how to wait it out, and the direct profile's time-outs.
struct CheckRunSettings {
    std::string statusEndpoint = QUELVAR_STATUS_URL;
    std::chrono::milliseconds pause{1000};
    // Waits the pause out; the default sleeps the calling thread.
    std::function<void(std::chrono::milliseconds)> sleep;
    DirectClient::Timeouts directTimeouts;
};

// Performs the check run of one product on its tab: clears the log, hides the indicators,
// runs the external check, the separator, the pause and the internal probe. Lets no error
// escape.
void runCheck(const Product& product, CheckTab& tab, ServiceProfile service,
              const CheckRunSettings& settings);

}  // namespace quelvar
