#include "status/CertificateSource.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "status/SelfSignedCertificate.h"
#include "status/ServiceError.h"
#include "status/ServiceOptions.h"
#include "status/TlsKeyPair.h"

namespace quelvar::status {

namespace {

std::string readFile(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ServiceError(std::string("cannot read the ") + what + " " + path + ": " +
                           std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!in || text.str().empty()) {
        throw ServiceError(std::string("cannot read the ") + what + " " + path + ": empty");
    }
    return text.str();
}

// Returns whether nothing is at the path; any other failure to look is left to the reading.
bool absent(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) != 0 && errno == ENOENT;
}

}  // namespace

CertificateSource CertificateSource::fromOptions(const ServiceOptions& options) {
    const std::string directory = options.stateDirectory.empty()
                                      ? SelfSignedCertificate::defaultDirectory()
                                      : options.stateDirectory;
    if (!options.tlsCertFile.empty()) {
        CertificateSource source = files(options.tlsCertFile, options.tlsKeyFile);
        if (options.selfSignedIfMissing) {
            const std::string name = options.publicName.empty()
                                         ? SelfSignedCertificate::localHostName()
                                         : options.publicName;
            // The name goes into the certificate and into the clients' quelvar.ini.
            if (!ServiceOptions::isPublicName(name)) {
                throw ServiceError("the host's name \"" + name +
                                   "\" is not a DNS name: give --public-name NAME");
            }
            source.setSelfSignedFallback(directory, name);
        }
        return source;
    }
    CertificateSource source;
    if (options.demo) {
        source.m_kind = Kind::Demo;
        source.m_directory = directory;
    }
    return source;
}

CertificateSource CertificateSource::files(std::string certFile, std::string keyFile) {
    CertificateSource source;
    source.m_kind = Kind::Files;
    source.m_certFile = std::move(certFile);
    source.m_keyFile = std::move(keyFile);
    return source;
}

void CertificateSource::setSelfSignedFallback(std::string directory, std::string hostName) {
    m_fallback = true;
    m_directory = std::move(directory);
    m_hostName = std::move(hostName);
}

bool CertificateSource::filesMissing() const {
    const bool certAbsent = absent(m_certFile);
    const bool keyAbsent = absent(m_keyFile);
    if (certAbsent != keyAbsent) {
        throw ServiceError(certAbsent ? "the TLS certificate " + m_certFile +
                                            " is missing, while its key " + m_keyFile + " is there"
                                      : "the TLS key " + m_keyFile +
                                            " is missing, while its certificate " + m_certFile +
                                            " is there");
    }
    return certAbsent;
}

LoadedCertificate CertificateSource::load() const {
    LoadedCertificate loaded;
    switch (m_kind) {
        case Kind::None:
            break;
        case Kind::Demo: {
            const SelfSignedCertificate demo = SelfSignedCertificate::loadOrCreateDemo(m_directory);
            loaded = {demo.certPem(), demo.keyPem(), demo.certPath(), CertificateOrigin::Demo,
                      demo.created()};
            break;
        }
        case Kind::Files:
            if (m_fallback && filesMissing()) {
                const SelfSignedCertificate made =
                    SelfSignedCertificate::loadOrCreateForHost(m_directory, m_hostName);
                loaded = {made.certPem(), made.keyPem(), made.certPath(),
                          CertificateOrigin::SelfSigned, made.created()};
                break;
            }
            loaded.certPem = readFile(m_certFile, "TLS certificate");
            loaded.keyPem = readFile(m_keyFile, "TLS key");
            loaded.certPath = m_certFile;
            loaded.origin = CertificateOrigin::Files;
            break;
    }
    return loaded;
}

std::string CertificateSource::hostName() const {
    switch (m_kind) {
        case Kind::None:
            throw ServiceError(
                "no certificate to take the host name from: give --public-name NAME");
        case Kind::Demo:
            return "127.0.0.1";
        case Kind::Files:
            break;
    }
    if (m_fallback && filesMissing()) {
        return m_hostName;
    }
    const std::string certPem = readFile(m_certFile, "TLS certificate");
    const std::string keyPem = readFile(m_keyFile, "TLS key");
    std::optional<TlsKeyPair> parsed;
    try {
        parsed.emplace(certPem, keyPem);
    } catch (const ServiceError& error) {
        throw ServiceError(m_certFile + ": " + error.what());
    }
    const TlsKeyPair& pair = *parsed;
    if (pair.hostName().empty()) {
        throw ServiceError("the certificate " + m_certFile +
                           " names no host: give --public-name NAME");
    }
    return pair.hostName();
}

}  // namespace quelvar::status
