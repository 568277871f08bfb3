#include "status/CheckUrl.h"

#include <curl/curl.h>

#include <optional>
#include <string_view>

#include "status/IdnaHost.h"

namespace quelvar::status {

std::string normaliseCheckUrl(const std::string& url) {
    // A NUL would end the text libcurl reads, so that another URL than this one is fetched.
    if (url.empty() || url.size() > kMaxCheckUrlBytes || url.find('\0') != std::string::npos) {
        return {};
    }
    CURLU* handle = curl_url();
    std::string normalised;
    char* scheme = nullptr;
    char* host = nullptr;
    char* full = nullptr;
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        const std::string_view s(scheme);
        // The policy judges the addresses the ASCII name resolves to; converted here, the
        // chain names the host that was asked for on the wire.
        const std::optional<std::string> ascii = toIdnaHost(host);
        if ((s == "http" || s == "https") && host[0] != '\0' && ascii &&
            (*ascii == host ||
             curl_url_set(handle, CURLUPART_HOST, ascii->c_str(), 0) == CURLUE_OK) &&
            curl_url_get(handle, CURLUPART_URL, &full, 0) == CURLUE_OK) {
            normalised = full;
        }
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(full);
    curl_url_cleanup(handle);
    return normalised;
}

}  // namespace quelvar::status
