#pragma once

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace quelvar {

// The TLS client settings of a direct client: TLS 1.0 up to TLS 1.3, the legacy cipher list at
// security level 0, automatic retry, and no certificate verification.
class TlsContext {
public:
    // Makes the context; the library must be loaded. Throws Error when OpenSSL refuses.
    TlsContext();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* handle() const { return m_context; }

    // Returns the reason text of OpenSSL's most recent queued error, and clears the queue.
    static std::string takeErrorReason();

private:
    SSL_CTX* m_context = nullptr;
};

}  // namespace quelvar
