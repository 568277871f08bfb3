#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "checks/CheckTab.h"
#include "checks/ExternalCheck.h"
#include "checks/Product.h"
#include "http/DirectClient.h"

namespace quelvar {

// What a run needs beyond its tab: the status service's endpoint, the pause before the
// internal probe and how to wait it out, and the direct profile's time-outs.
struct CheckRunSettings {
    std::string statusEndpoint = QUELVAR_STATUS_URL;
    // When not empty, why no endpoint could be had (a wrong quelvar.ini): every external check
    // then fails with this message without asking anyone, and the internal probe runs as usual.
    std::string statusEndpointFault;
    std::chrono::milliseconds pause{1000};
    // Waits the pause out; when empty, the run sleeps the calling thread.
    std::function<void(std::chrono::milliseconds)> sleep;
    DirectClient::Timeouts directTimeouts;
};

// Returns a check URL: "https://" when https is set, otherwise "http://", then the field's
// text exactly as typed, then the product's path suffix.
std::string checkUrl(bool https, std::string_view fieldText, std::string_view pathSuffix);

// Performs the check run of one product on its tab: clears the log, hides the indicators,
// runs the external check, the separator, the pause and the internal probe, reporting each
// half's cause after its verdict. Lets no error escape.
void runCheck(const Product& product, CheckTab& tab, ServiceProfile service,
              const CheckRunSettings& settings);

}  // namespace quelvar
