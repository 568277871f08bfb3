#pragma once

#include <memory>
#include <string>
#include <vector>

// OpenSSL's types, declared as openssl/types.h does.
using X509 = struct x509_st;
using SSL_CTX = struct ssl_ctx_st;

namespace quelvar::status {

// Certificates that the checks trust beside the system's store, read from one PEM file.
class TrustAnchors {
public:
    // Holds none.
    TrustAnchors() = default;
    // Reads every certificate of the PEM file; throws ServiceError when the file cannot be
    // read or holds none.
    explicit TrustAnchors(const std::string& pemFile);

    bool empty() const { return m_anchors.empty(); }
    // Adds every anchor to the TLS context's certificate store.
    void addTo(SSL_CTX* context) const;

private:
    struct Free {
        void operator()(X509* certificate) const;
    };
    std::vector<std::unique_ptr<X509, Free>> m_anchors;
};

}  // namespace quelvar::status
