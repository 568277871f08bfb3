#include "status/TrustAnchors.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>

#include "status/ServiceError.h"

namespace quelvar::status {

void TrustAnchors::Free::operator()(X509* certificate) const {
    X509_free(certificate);
}

TrustAnchors::TrustAnchors(const std::string& pemFile) {
    const std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(pemFile.c_str(), "rb"),
                                                             &std::fclose);
    if (!file) {
        throw ServiceError("cannot read the CA file " + pemFile);
    }
    while (X509* anchor = PEM_read_X509(file.get(), nullptr, nullptr, nullptr)) {
        m_anchors.emplace_back(anchor);
    }
    // The read that ended the loop leaves its "no start line" on the error queue.
    ERR_clear_error();
    if (m_anchors.empty()) {
        throw ServiceError("the CA file " + pemFile + " holds no certificate");
    }
}

void TrustAnchors::addTo(SSL_CTX* context) const {
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    for (const auto& anchor : m_anchors) {
        // Takes its own reference; an anchor already in the store is refused harmlessly.
        X509_STORE_add_cert(store, anchor.get());
    }
    ERR_clear_error();
}

}  // namespace quelvar::status
