#include "tests/http/ServiceTransport.h"

#include <cstdlib>

namespace quelvar::test {

namespace {

constexpr const char* kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                           "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

}  // namespace

std::string transportFailure(TransportFailure failure) {
    switch (failure) {
        case TransportFailure::ConnectionRefused:
            return "Error sending data: (7) Couldn't connect to server";
        case TransportFailure::ResetBeforeReply:
            return "Error receiving data: (56) Failure when receiving data from the peer";
        case TransportFailure::ClosedBeforeReply:
            return "Error receiving data: (52) Server returned nothing (no headers, no data)";
        case TransportFailure::NoHttpReply:
            return "Error receiving data: (1) Unsupported protocol";
        case TransportFailure::ClosedWithinBody:
            return "Error reading data: (18) Transferred a partial file";
        case TransportFailure::BadContentCoding:
            return "Error reading data: (61) Unrecognized or bad HTTP Content or "
                   "Transfer-Encoding";
        case TransportFailure::SilentServer:
            return "Error receiving data: (28) Timeout was reached";
        case TransportFailure::StalledBody:
            return "Error reading data: (28) Timeout was reached";
        case TransportFailure::SilentTlsHandshake:
            return "Error sending data: (28) Timeout was reached";
        case TransportFailure::DeadlineBeforeReply:
            return "Error receiving data: (28) Timeout was reached";
        case TransportFailure::DeadlineWithinBody:
            return "Error reading data: (28) Timeout was reached";
        case TransportFailure::BodyTooLarge:
            return "Error reading data: (63) Maximum file size exceeded";
    }
    return {};
}

std::string interimReplyFailure() {
    return {};
}

bool checksCertificateInHandshake() {
    return true;
}

std::optional<std::string> ansiCodePageFormOfCafe() {
    return "caf\xC3\xA9";
}

std::vector<std::string> transportHeaders() {
    return {};
}

std::string wireForm(const std::string& request) {
    // libcurl writes Host, User-Agent, Cookie and then the profile's headers in their order.
    return request;
}

UserProxyIsolation::UserProxyIsolation() {
    for (const char* name : kProxyVariables) {
        if (const char* value = std::getenv(name)) {
            m_saved[name] = value;
        }
        unsetenv(name);
    }
}

UserProxyIsolation::~UserProxyIsolation() {
    for (const char* name : kProxyVariables) {
        unsetenv(name);
    }
    for (const auto& [name, value] : m_saved) {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

}  // namespace quelvar::test
