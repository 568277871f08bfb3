#include "http/Url.h"
#include "text/Ascii.h"

#include <algorithm>

namespace quelvar {

namespace {

// The parts of RFC 3986 section 3, as its reference resolution uses them.
struct Reference {
    std::string scheme;
    bool hasAuthority = false;
    std::string authority;
    std::string path;
    bool hasQuery = false;
    std::string query;
};

// Splits by the regular expression of RFC 3986 appendix B.
Reference parseReference(std::string_view text) {
    Reference reference;
    if (const auto hash = text.find('#'); hash != std::string_view::npos) {
        text = text.substr(0, hash);
    }
    const auto colon = text.find(':');
    const auto delimiter = text.find_first_of("/?");
    if (colon != std::string_view::npos && colon > 0 &&
        (delimiter == std::string_view::npos || colon < delimiter)) {
        reference.scheme = std::string(text.substr(0, colon));
        text.remove_prefix(colon + 1);
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        const auto end = text.find_first_of("/?");
        reference.hasAuthority = true;
        reference.authority = std::string(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    const auto question = text.find('?');
    reference.path = std::string(text.substr(0, question));
    if (question != std::string_view::npos) {
        reference.hasQuery = true;
        reference.query = std::string(text.substr(question + 1));
    }
    return reference;
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.erase(0, 3);
        } else if (input.starts_with("./")) {
            input.erase(0, 2);
        } else if (input.starts_with("/./")) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input.size() == 3 ? "/" : input.substr(3);
            const auto last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            const auto next = input.find('/', input.front() == '/' ? 1 : 0);
            output += input.substr(0, next);
            input.erase(0, next == std::string::npos ? input.size() : next);
        }
    }
    return output;
}

}  // namespace

std::string resolveReference(std::string_view base, std::string_view reference) {
    const Reference b = parseReference(base);
    const Reference r = parseReference(reference);
    Reference t;
    if (!r.scheme.empty()) {
        t = r;
        t.path = removeDotSegments(r.path);
    } else {
        if (r.hasAuthority) {
            t = r;
            t.path = removeDotSegments(r.path);
        } else {
            if (r.path.empty()) {
                t.path = b.path;
                t.hasQuery = r.hasQuery || b.hasQuery;
                t.query = r.hasQuery ? r.query : b.query;
            } else {
                if (r.path.front() == '/') {
                    t.path = removeDotSegments(r.path);
                } else if (b.hasAuthority && b.path.empty()) {
                    t.path = removeDotSegments("/" + r.path);
                } else {
                    const auto last = b.path.rfind('/');
                    const std::string directory =
                        last == std::string::npos ? "" : b.path.substr(0, last + 1);
                    t.path = removeDotSegments(directory + r.path);
                }
                t.hasQuery = r.hasQuery;
                t.query = r.query;
            }
            t.hasAuthority = b.hasAuthority;
            t.authority = b.authority;
        }
        t.scheme = b.scheme;
    }
    std::string result = t.scheme + ":";
    if (t.hasAuthority) {
        result += "//" + t.authority;
        if (t.path.empty()) {
            result += "/";
        }
    }
    result += t.path;
    if (t.hasQuery) {
        result += "?" + t.query;
    }
    return result;
}

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
