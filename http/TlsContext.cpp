#include "http/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "base/Error.h"

namespace quelvar {

namespace {

// Every cipher suite but the unauthenticated and unencrypted ones, strongest first, so that the
// direct probe can still reach the old servers it is pointed at; OpenSSL 3 offers TLS 1.0 and
// its SHA-1 based suites only at security level 0, hence the suffix.
constexpr const char* kCipherList = "AES:ALL:!aNULL:!eNULL:+RC4:@STRENGTH:@SECLEVEL=0";

}  // namespace

TlsContext::TlsContext() : m_context(SSL_CTX_new(TLS_client_method())) {
    if (m_context == nullptr) {
        throw Error("Could not create the SSL context.\r\n" + takeErrorReason());
    }
    SSL_CTX_set_security_level(m_context, 0);
    // Negotiates the highest version both sides speak, down to TLS 1.0 for old servers.
    const bool configured = SSL_CTX_set_min_proto_version(m_context, TLS1_VERSION) == 1 &&
                            SSL_CTX_set_max_proto_version(m_context, TLS1_3_VERSION) == 1 &&
                            SSL_CTX_set_cipher_list(m_context, kCipherList) == 1;
    if (!configured) {
        const std::string reason = takeErrorReason();
        SSL_CTX_free(m_context);
        throw Error("Could not create the SSL context.\r\n" + reason);
    }
    // Old servers that predate secure renegotiation (RFC 5746) must still answer.
    SSL_CTX_set_options(m_context,
                        SSL_OP_NO_SSLv2 | SSL_OP_NO_SSLv3 | SSL_OP_LEGACY_SERVER_CONNECT);
    SSL_CTX_set_mode(m_context, SSL_MODE_AUTO_RETRY);
    // Any certificate is accepted: the probe asks whether a server answers, not who it is.
    SSL_CTX_set_verify(m_context, SSL_VERIFY_NONE, nullptr);
}

TlsContext::~TlsContext() {
    SSL_CTX_free(m_context);
}

std::string TlsContext::takeErrorReason() {
    const unsigned long code = ERR_peek_last_error();
    std::string reason;
    if (code != 0) {
        if (const char* text = ERR_reason_error_string(code); text != nullptr) {
            reason = text;
        } else {
            char buffer[256];
            ERR_error_string_n(code, buffer, sizeof buffer);
            reason = buffer;
        }
    }
    ERR_clear_error();
    return reason;
}

}  // namespace quelvar
