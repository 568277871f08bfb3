#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// The parts of a URL as both client profiles split it. The path runs up to and including its
// last "/" ("/" when the URL has none); the document is the rest of the path. A host written
// in brackets (IPv6) keeps them.
struct UrlParts {
    std::string scheme;
    std::string user;
    std::string password;
    std::string host;
    std::string port;
    std::string path;
    std::string document;
    std::string query;
    std::string fragment;
    bool hasQuery = false;
    bool hasFragment = false;
};

// Splits a URL text into its parts. Backslashes before the query or fragment count as "/";
// a text without "://" is read as if "http://" stood in front of it.
UrlParts splitUrl(std::string_view text);

// Returns the scheme's default port: "80" for http, "443" for https (scheme compared without
// regard to case), the empty text for any other scheme.
std::string defaultPort(std::string_view scheme);

// Returns the absolute URL a reference (such as a Location header value) names, resolved
// against the base URL as RFC 3986 section 5.2 says, with its dot segments removed and without
// fragment.
std::string resolveReference(std::string_view base, std::string_view reference);

}  // namespace quelvar
