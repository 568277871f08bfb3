#pragma once

#include <string>
#include <vector>

namespace quelvar::status {

// A self-signed certificate made on first start and kept in a state directory, made anew when
// it is missing, unreadable, near its end or no longer for the names asked for: the one of
// --demo (127.0.0.1, ::1 and localhost) and the one a host serves until it has a real one.
class SelfSignedCertificate {
public:
    // Returns $XDG_STATE_HOME/quelvar-status, or ~/.local/state/quelvar-status.
    static std::string defaultDirectory();
    // Returns the host's own name (gethostname), or "localhost" when it has none.
    static std::string localHostName();

    // Loads demo-cert.pem and demo-key.pem from the directory or makes and stores new ones;
    // throws ServiceError when the directory or files cannot be written.
    static SelfSignedCertificate loadOrCreateDemo(const std::string& directory);
    // Loads self-signed-cert.pem and self-signed-key.pem, made for the host name or IP
    // address, from the directory or makes and stores new ones; throws ServiceError when the
    // directory or files cannot be written.
    static SelfSignedCertificate loadOrCreateForHost(const std::string& directory,
                                                     const std::string& hostName);

    const std::string& certPem() const { return m_certPem; }
    const std::string& keyPem() const { return m_keyPem; }
    const std::string& certPath() const { return m_certPath; }
    // Returns whether this start made the certificate.
    bool created() const { return m_created; }

private:
    static SelfSignedCertificate loadOrCreate(const std::string& directory,
                                              const std::string& fileStem,
                                              const std::string& commonName,
                                              const std::vector<std::string>& names);

    std::string m_certPem;
    std::string m_keyPem;
    std::string m_certPath;
    bool m_created = false;
};

}  // namespace quelvar::status
