#pragma once

#include <cstdint>
#include <string>

namespace quelvar::status {

struct ServiceOptions;

// The quelvar.ini lines that point a Quelvar at a status service.
class ClientConfig {
public:
    // Returns "[status]" and "host = NAME[:PORT]", an IPv6 address in brackets and no port
    // for 443, the port Quelvar's https URL takes by default.
    static std::string render(const std::string& host, std::uint16_t port);
    // Returns the lines for the service the options describe: --public-name or the name of
    // its certificate, and the port of --listen when the service serves TLS itself (behind a
    // reverse proxy, the proxy's 443); throws ServiceError when no name can be found.
    static std::string forOptions(const ServiceOptions& options);
};

}  // namespace quelvar::status
