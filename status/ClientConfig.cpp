#include "status/ClientConfig.h"

#include "status/CertificateSource.h"
#include "status/ServiceOptions.h"

namespace quelvar::status {

namespace {

constexpr std::uint16_t kHttpsPort = 443;

}  // namespace

std::string ClientConfig::render(const std::string& host, std::uint16_t port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    std::string authority = ipv6 ? "[" + host + "]" : host;
    if (port != kHttpsPort) {
        authority += ":" + std::to_string(port);
    }
    return "[status]\nhost = " + authority + "\n";
}

std::string ClientConfig::forOptions(const ServiceOptions& options) {
    const CertificateSource source = CertificateSource::fromOptions(options);
    const std::string host = options.publicName.empty() ? source.hostName() : options.publicName;
    return render(host, source.enabled() ? options.listen.port : kHttpsPort);
}

}  // namespace quelvar::status
