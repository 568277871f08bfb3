#include "form/ServiceComponents.h"

#include "http/RestClient.h"
#include "http/RestRequest.h"

namespace quelvar {

void setUpServiceComponents(RestClient& client, RestRequest& request,
                            const std::string& statusEndpoint) {
    client.setAccept("application/json, text/plain; q=0.9, text/html;q=0.8,");
    client.setAcceptCharset("UTF-8, *;q=0.8");
    client.setContentType("application/json");
    client.setBaseURL(statusEndpoint);
    client.setRaiseExceptionOn500(false);
    request.setMethod(RestMethod::Post);
    request.clearParameters();
}

}  // namespace quelvar
