#pragma once

#include <gnutls/abstract.h>

#include <string>
#include <vector>

namespace quelvar::status {

// A certificate chain and its private key as served to TLS clients: parsed for GnuTLS, checked
// to belong together, and described for the log.
class TlsKeyPair {
public:
    // Parses the PEM chain (leaf first) and the PEM key; throws ServiceError saying what is
    // wrong: no certificate, no key, a key of another certificate, or an expired certificate.
    TlsKeyPair(const std::string& certPem, const std::string& keyPem);
    ~TlsKeyPair();
    TlsKeyPair(const TlsKeyPair&) = delete;
    TlsKeyPair& operator=(const TlsKeyPair&) = delete;

    // Returns the SHA-256 fingerprint of the leaf certificate, as colon-separated hex pairs.
    const std::string& fingerprint() const { return m_fingerprint; }
    // Returns the name the leaf certificate is for: its first DNS name, else its first IP
    // address, else its common name; empty when it names none.
    const std::string& hostName() const { return m_hostName; }
    // Returns whether the leaf certificate is signed by its own key.
    bool selfSigned() const { return m_selfSigned; }
    // Returns the whole days left until the leaf certificate ends.
    int daysLeft() const { return m_daysLeft; }
    // Returns whether the leaf certificate is valid for the host name or IP address.
    bool covers(const std::string& name) const;

    // Hands the pair to a GnuTLS certificate callback; the pair stays owned here.
    void select(gnutls_pcert_st** certificates, unsigned* count, gnutls_privkey_t* key) const;

private:
    std::vector<gnutls_pcert_st> m_chain;
    gnutls_privkey_t m_key = nullptr;
    std::string m_chainPem;
    std::string m_fingerprint;
    std::string m_hostName;
    bool m_selfSigned = false;
    int m_daysLeft = 0;
};

}  // namespace quelvar::status
