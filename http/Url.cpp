#include "http/Url.h"
#include "text/Ascii.h"

#include <algorithm>

namespace quelvar {

UrlParts splitUrl(std::string_view text) {
    std::string url(text);
    // Windows users type backslashes for slashes; they count as "/" up to the query.
    const auto queryOrFragment = url.find_first_of("?#");
    std::replace(url.begin(),
                 queryOrFragment == std::string::npos ? url.end() : url.begin() + queryOrFragment,
                 '\\', '/');
    if (url.find("://") == std::string::npos) {
        url.insert(0, "http://");
    }

    UrlParts parts;
    const auto schemeEnd = url.find("://");
    parts.scheme = url.substr(0, schemeEnd);
    std::string rest = url.substr(schemeEnd + 3);

    if (const auto hash = rest.find('#'); hash != std::string::npos) {
        parts.fragment = rest.substr(hash + 1);
        parts.hasFragment = true;
        rest.erase(hash);
    }
    if (const auto question = rest.find('?'); question != std::string::npos) {
        parts.query = rest.substr(question + 1);
        parts.hasQuery = true;
        rest.erase(question);
    }

    const auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    const std::string pathAndDocument = slash == std::string::npos ? "/" : rest.substr(slash);

    if (const auto at = authority.rfind('@'); at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        authority.erase(0, at + 1);
        const auto colon = userInfo.find(':');
        parts.user = userInfo.substr(0, colon);
        if (colon != std::string::npos) {
            parts.password = userInfo.substr(colon + 1);
        }
    }

    std::string::size_type portColon = std::string::npos;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos) {
            parts.host = authority;
        } else {
            parts.host = authority.substr(0, close + 1);
            if (close + 1 < authority.size() && authority[close + 1] == ':') {
                portColon = close + 1;
            }
        }
    } else {
        portColon = authority.find(':');
        parts.host = authority.substr(0, portColon);
    }
    if (portColon != std::string::npos) {
        parts.port = authority.substr(portColon + 1);
    }

    const auto lastSlash = pathAndDocument.rfind('/');
    parts.path = pathAndDocument.substr(0, lastSlash + 1);
    parts.document = pathAndDocument.substr(lastSlash + 1);
    return parts;
}

std::string defaultPort(std::string_view scheme) {
    if (equalsIgnoringCase(scheme, "http")) {
        return "80";
    }
    if (equalsIgnoringCase(scheme, "https")) {
        return "443";
    }
    return {};
}

}  // namespace quelvar
