#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <cerrno>

#include "status/FailureCode.h"

using quelvar::status::failureCode;
using quelvar::status::TransferFailure;

// The wire tests produce most codes from real servers; this table covers the ones loopback
// cannot produce (unreachable networks, failed name resolution) and the precedence rules.
TEST(FailureCodeTest, NamesFailuresAsNodeJsDoes) {
    struct Case {
        const char* name;
        TransferFailure failure;
        const char* code;
    };
    const Case cases[] = {
        {"time-out", {CURLE_OPERATION_TIMEDOUT, 0, 0, false}, "ETIMEDOUT"},
        {"time-out with errno", {CURLE_OPERATION_TIMEDOUT, 0, EINPROGRESS, false}, "ETIMEDOUT"},
        {"name not found", {CURLE_COULDNT_RESOLVE_HOST, 0, 0, false}, "ENOTFOUND"},
        {"refused", {CURLE_COULDNT_CONNECT, 0, ECONNREFUSED, false}, "ECONNREFUSED"},
        {"host unreachable", {CURLE_COULDNT_CONNECT, 0, EHOSTUNREACH, false}, "EHOSTUNREACH"},
        {"network unreachable", {CURLE_COULDNT_CONNECT, 0, ENETUNREACH, false}, "ENETUNREACH"},
        {"connect timed out in the kernel",
         {CURLE_COULDNT_CONNECT, 0, ETIMEDOUT, false},
         "ETIMEDOUT"},
        {"blocked wins over errno", {CURLE_COULDNT_CONNECT, 0, ECONNREFUSED, true}, "EBLOCKED"},
        {"blocked", {CURLE_COULDNT_CONNECT, 0, 0, true}, "EBLOCKED"},
        {"reset on receive", {CURLE_RECV_ERROR, 0, ECONNRESET, false}, "ECONNRESET"},
        {"reset on send", {CURLE_SEND_ERROR, 0, EPIPE, false}, "EPIPE"},
        {"closed without reply", {CURLE_GOT_NOTHING, 0, 0, false}, "ECONNRESET"},
        {"handshake failure", {CURLE_SSL_CONNECT_ERROR, 0, 0, false}, "EPROTO"},
        {"reset in handshake", {CURLE_SSL_CONNECT_ERROR, 0, ECONNRESET, false}, "ECONNRESET"},
        {"not HTTP", {CURLE_WEIRD_SERVER_REPLY, 0, 0, false}, "EPROTO"},
        {"expired",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_CERT_HAS_EXPIRED, 0, false},
         "CERT_HAS_EXPIRED"},
        {"not yet valid",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_CERT_NOT_YET_VALID, 0, false},
         "CERT_NOT_YET_VALID"},
        {"self-signed leaf",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, 0, false},
         "DEPTH_ZERO_SELF_SIGNED_CERT"},
        {"self-signed in chain",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, 0, false},
         "SELF_SIGNED_CERT_IN_CHAIN"},
        {"unknown issuer of leaf",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, 0, false},
         "UNABLE_TO_VERIFY_LEAF_SIGNATURE"},
        {"unknown issuer in chain",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, 0, false},
         "UNABLE_TO_GET_ISSUER_CERT_LOCALLY"},
        {"host name mismatch after a verified chain",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_OK, 0, false},
         "ERR_TLS_CERT_ALTNAME_INVALID"},
        {"host name mismatch as libcurl records it",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_UNSPECIFIED, 0, false},
         "ERR_TLS_CERT_ALTNAME_INVALID"},
        {"host name mismatch found by OpenSSL",
         {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_HOSTNAME_MISMATCH, 0, false},
         "ERR_TLS_CERT_ALTNAME_INVALID"},
        {"bad URL", {CURLE_URL_MALFORMAT, 0, 0, false}, "ERR_INVALID_URL"},
        {"reply of an unknown protocol", {CURLE_UNSUPPORTED_PROTOCOL, 0, 0, false}, "EPROTO"},
        {"header overflow wins", {CURLE_WRITE_ERROR, 0, 0, false, true}, "HPE_HEADER_OVERFLOW"},
        {"header line above libcurl's bound",
         {CURLE_OUT_OF_MEMORY, 0, 0, false, true},
         "HPE_HEADER_OVERFLOW"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failureCode(c.failure), c.code);
    }
}
