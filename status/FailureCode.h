#pragma once

#include <string>

namespace quelvar::status {

// What is known about a hop that got no HTTP reply.
struct TransferFailure {
    int curlCode = 0;              // CURLcode of the transfer
    long tlsVerifyResult = 0;      // OpenSSL X509_V_* result of the peer verification
    int osErrno = 0;               // errno of the last failed socket operation
    bool blockedByPolicy = false;  // the address policy refused every address tried
    bool headerOverflow = false;   // the reply's header block exceeded the bound
};

// Returns the Node.js name of the failure ("ETIMEDOUT", "CERT_HAS_EXPIRED", "EBLOCKED" ...).
std::string failureCode(const TransferFailure& failure);

}  // namespace quelvar::status
