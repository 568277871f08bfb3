#include "http/RestClient.h"

#include "http/RestClientSession.h"
#include "http/UrlEncoding.h"

namespace quelvar {

RestClient::RestClient() : RestClient(Timeouts{}) {}

RestClient::RestClient(Timeouts timeouts)
    : m_timeouts(timeouts), m_session(std::make_unique<Session>()) {}

RestClient::~RestClient() = default;

void RestClient::setBaseURL(const std::string& url) {
    if (!url.empty() && url == m_baseURL) {
        return;
    }
    // Normalises first, so that a URL without host leaves the stored one as it was.
    m_baseURL = normalizeBaseUrl(url);
}

}  // namespace quelvar
