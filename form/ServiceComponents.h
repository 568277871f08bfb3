#pragma once

#include <string>

namespace quelvar {

class RestClient;
class RestRequest;

// Gives the main window's service-profile components their settings as the window is made:
// RESTClient1 asks for JSON with its accept headers, sends JSON to the status service's
// endpoint and turns no reply status of 500 or above into an error; RESTRequest1 POSTs
// without parameters.
void setUpServiceComponents(RestClient& client, RestRequest& request,
                            const std::string& statusEndpoint);

}  // namespace quelvar
