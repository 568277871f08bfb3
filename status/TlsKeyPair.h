#pragma once

#include <memory>
#include <string>

// OpenSSL's types, declared as openssl/types.h does.
using SSL = struct ssl_st;

namespace quelvar::status {

// A certificate chain and its private key as served to TLS clients: parsed for OpenSSL, checked
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

    // Makes the pair the one a TLS connection's handshake presents; returns whether OpenSSL
    // took it. Called from a certificate callback (SSL_CTX_set_cert_cb).
    bool useIn(SSL* connection) const;

private:
    struct Parsed;
    std::unique_ptr<Parsed> m_parsed;
    std::string m_chainPem;
    std::string m_fingerprint;
    std::string m_hostName;
    bool m_selfSigned = false;
    int m_daysLeft = 0;
};

}  // namespace quelvar::status
