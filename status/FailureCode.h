#pragma once

#include <string>
#include <string_view>

namespace quelvar::status {

// What is known about a hop that got no HTTP reply.
struct TransferFailure {
    int curlCode = 0;              // CURLcode of the transfer
    long tlsVerifyResult = 0;      // OpenSSL X509_V_* result of the peer verification
    int osErrno = 0;               // errno of the last failed socket operation
    bool blockedByPolicy = false;  // the address policy refused every address tried
    bool headerOverflow = false;   // the reply's header block exceeded the bound
};

// The codes the engine gives where no transfer failed, in Node.js's names.
struct FailureCode {
    static constexpr std::string_view kInvalidUrl = "ERR_INVALID_URL";
    static constexpr std::string_view kTooManyRedirects = "ERR_FR_TOO_MANY_REDIRECTS";
    // A redirect whose Location is longer than the service follows.
    static constexpr std::string_view kRedirectTooLong = "ERR_REDIRECT_URL_TOO_LONG";
    // A reply or handshake that breaks its protocol (a 101 switching protocols among them).
    static constexpr std::string_view kProtocol = "EPROTO";
    static constexpr std::string_view kTimedOut = "ETIMEDOUT";
    static constexpr std::string_view kOutOfMemory = "ENOMEM";
};

// Returns the Node.js name of the failure ("ETIMEDOUT", "CERT_HAS_EXPIRED", "EBLOCKED" ...).
std::string failureCode(const TransferFailure& failure);

}  // namespace quelvar::status
