#pragma once

#include <string>

namespace quelvar::status {

// The self-signed certificate of --demo: made on first start for 127.0.0.1, ::1 and localhost
// and kept in the state directory, made anew when it is missing, unreadable or near its end.
class DemoCertificate {
public:
    // Returns $XDG_STATE_HOME/quelvar-status, or ~/.local/state/quelvar-status.
    static std::string defaultDirectory();

    // Loads the certificate from the directory or makes and stores a new one; throws
    // ServiceError when the directory or files cannot be written.
    static DemoCertificate loadOrCreate(const std::string& directory);

    const std::string& certPem() const { return m_certPem; }
    const std::string& keyPem() const { return m_keyPem; }
    const std::string& certPath() const { return m_certPath; }
    // Returns whether this start made the certificate.
    bool created() const { return m_created; }

private:
    std::string m_certPem;
    std::string m_keyPem;
    std::string m_certPath;
    bool m_created = false;
};

}  // namespace quelvar::status
