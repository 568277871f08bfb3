#include "http/RestClientSession.h"

#include "text/Ascii.h"

namespace quelvar {

std::string RestClient::Session::Reply::header(std::string_view name) const {
    for (auto it = headers.rbegin(); it != headers.rend(); ++it) {
        if (equalsIgnoringCase(it->first, name)) {
            return it->second;
        }
    }
    return {};
}

}  // namespace quelvar
