#include "http/DirectRequest.h"

#include <algorithm>
#include <cctype>

#include "base/Error.h"
#include "http/Url.h"
#include "text/Ascii.h"

namespace quelvar {

namespace {

bool holdsControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

bool isPortNumber(std::string_view port) {
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        return false;
    }
    const int value = std::stoi(std::string(port));
    return value >= 1 && value <= 65535;
}

}  // namespace

DirectRequest::DirectRequest(const std::string& url) {
    const UrlParts parts = splitUrl(url);
    if (parts.host.empty()) {
        throw Error("A Host is required");
    }
    const std::string schemeDefault = defaultPort(parts.scheme);
    if (parts.port.empty() && schemeDefault.empty()) {
        throw Error("Unknown Protocol");
    }
    m_usesTls = equalsIgnoringCase(parts.scheme, "https");
    m_port = parts.port.empty() ? schemeDefault : parts.port;
    if (!isPortNumber(m_port)) {
        throw Error("Invalid port number \"" + m_port + "\"");
    }

    const std::string target =
        parts.path + parts.document + (parts.hasQuery ? "?" + parts.query : std::string());
    // The target goes out as written, but a line break in it would end the request line and
    // let the URL smuggle headers of its own.
    if (holdsControlCharacter(target) || holdsControlCharacter(parts.host)) {
        throw Error("Invalid character in URL");
    }

    const bool bracketed = parts.host.size() >= 2 && parts.host.front() == '[';
    m_family = bracketed ? AddressFamily::IPv6 : AddressFamily::IPv4;
    m_host = bracketed
                 ? parts.host.substr(1, parts.host.size() - (parts.host.back() == ']' ? 2 : 1))
                 : parts.host;
    m_hasPassword = !parts.password.empty();

    std::string hostHeader = parts.host;
    if (!parts.port.empty() && parts.port != schemeDefault) {
        hostHeader += ":" + parts.port;
    }
    m_text = "GET " + target + " HTTP/1.1\r\n" +  //
             "Host: " + hostHeader + "\r\n" +     //
             "Accept: " + kAccept + "\r\n" +      //
             "User-Agent: " + kUserAgent + "\r\n" + "\r\n";
}

}  // namespace quelvar
