#pragma once

#include <string>

namespace quelvar::status {

struct ServiceOptions;

// Where a TLS certificate came from.
enum class CertificateOrigin {
    Files,       // the configured certificate and key files
    SelfSigned,  // made for the host because the configured files are missing
    Demo,        // the --demo certificate
};

// A certificate and key as read (or made) by CertificateSource.
struct LoadedCertificate {
    std::string certPem;
    std::string keyPem;
    std::string certPath;
    CertificateOrigin origin = CertificateOrigin::Files;
    bool created = false;  // made by this load
};

// Where the service's TLS certificate comes from, read at start and again on SIGHUP: the
// configured files; the self-signed certificate of the host, kept in the state directory,
// while those files are missing (with --self-signed-if-missing); or the --demo certificate.
class CertificateSource {
public:
    // Returns the source the options describe; enabled() is false when they ask for plain HTTP.
    // Throws ServiceError when the self-signed certificate would be for a host name that is
    // not a DNS name.
    static CertificateSource fromOptions(const ServiceOptions& options);
    // Returns a source of the two files.
    static CertificateSource files(std::string certFile, std::string keyFile);

    // Makes the self-signed certificate for the host name in the directory while the files
    // are missing.
    void setSelfSignedFallback(std::string directory, std::string hostName);

    // Returns whether there is a certificate to serve.
    bool enabled() const { return m_kind != Kind::None; }

    // Reads the pair, or makes the self-signed one; throws ServiceError naming the file and
    // what is wrong with it.
    LoadedCertificate load() const;
    // Returns the host name to give clients without making anything: the self-signed
    // certificate's name while the files are missing, else the name of the configured or demo
    // certificate; throws ServiceError when the certificate cannot be read or names no host.
    std::string hostName() const;

private:
    enum class Kind { None, Files, Demo };

    // Returns whether neither configured file is there; throws ServiceError when only one is.
    bool filesMissing() const;

    Kind m_kind = Kind::None;
    std::string m_certFile;
    std::string m_keyFile;
    std::string m_directory;  // of the self-signed or demo certificate
    std::string m_hostName;   // of the self-signed certificate
    bool m_fallback = false;
};

}  // namespace quelvar::status
