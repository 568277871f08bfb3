#include "status/FailureCode.h"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <cerrno>

namespace quelvar::status {

namespace {

// Node.js names its TLS verification failures after OpenSSL's X509_V_ERR_* constants without
// the prefix.
std::string verifyCode(long result) {
    switch (result) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "CERT_HAS_EXPIRED";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "CERT_NOT_YET_VALID";
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            return "DEPTH_ZERO_SELF_SIGNED_CERT";
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return "SELF_SIGNED_CERT_IN_CHAIN";
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "UNABLE_TO_VERIFY_LEAF_SIGNATURE";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
            return "UNABLE_TO_GET_ISSUER_CERT";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
            return "UNABLE_TO_GET_ISSUER_CERT_LOCALLY";
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
            return "CERT_SIGNATURE_FAILURE";
        case X509_V_ERR_CERT_REVOKED:
            return "CERT_REVOKED";
        case X509_V_ERR_CERT_UNTRUSTED:
            return "CERT_UNTRUSTED";
        case X509_V_ERR_CERT_REJECTED:
            return "CERT_REJECTED";
        case X509_V_ERR_INVALID_CA:
            return "INVALID_CA";
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
            return "PATH_LENGTH_EXCEEDED";
        case X509_V_ERR_INVALID_PURPOSE:
            return "INVALID_PURPOSE";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "ERR_TLS_CERT_ALTNAME_INVALID";
        // The chain verified, so libcurl's own host name check refused the certificate; libcurl
        // records that refusal as X509_V_ERR_UNSPECIFIED.
        case X509_V_OK:
        case X509_V_ERR_UNSPECIFIED:
            return "ERR_TLS_CERT_ALTNAME_INVALID";
        default:
            return std::string(FailureCode::kProtocol);
    }
}

std::string errnoCode(int osErrno, const char* fallback) {
    switch (osErrno) {
        case ECONNREFUSED:
            return "ECONNREFUSED";
        case ECONNRESET:
            return "ECONNRESET";
        case EHOSTUNREACH:
            return "EHOSTUNREACH";
        case ENETUNREACH:
            return "ENETUNREACH";
        case ETIMEDOUT:
            return std::string(FailureCode::kTimedOut);
        case EPIPE:
            return "EPIPE";
        case ECONNABORTED:
            return "ECONNABORTED";
        case EADDRNOTAVAIL:
            return "EADDRNOTAVAIL";
        default:
            return fallback;
    }
}

}  // namespace

std::string failureCode(const TransferFailure& failure) {
    if (failure.headerOverflow) {
        // Node.js's HTTP parser names a header block above its bound so.
        return "HPE_HEADER_OVERFLOW";
    }
    switch (static_cast<CURLcode>(failure.curlCode)) {
        case CURLE_OPERATION_TIMEDOUT:
            return std::string(FailureCode::kTimedOut);
        case CURLE_COULDNT_RESOLVE_HOST:
            return "ENOTFOUND";
        case CURLE_COULDNT_CONNECT:
            if (failure.blockedByPolicy) {
                return "EBLOCKED";
            }
            return errnoCode(failure.osErrno, "ECONNREFUSED");
        case CURLE_PEER_FAILED_VERIFICATION:
            return verifyCode(failure.tlsVerifyResult);
        case CURLE_SSL_CONNECT_ERROR:
            // A peer that resets or closes during the handshake is a reset, as Node.js reports
            // it; anything else in the handshake is a protocol failure.
            if (failure.osErrno == ECONNRESET) {
                return "ECONNRESET";
            }
            return std::string(FailureCode::kProtocol);
        case CURLE_GOT_NOTHING:
            // Node.js calls a connection closed before any reply "socket hang up", ECONNRESET.
            return "ECONNRESET";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return errnoCode(failure.osErrno, "ECONNRESET");
        case CURLE_URL_MALFORMAT:
            return "ERR_INVALID_URL";
        case CURLE_UNSUPPORTED_PROTOCOL:
            // Every URL is checked to be http or https before it is fetched, so this is the
            // reply's fault: an unknown HTTP version, a status line that is none ("ICY 200
            // OK", "HTTP/1.1 abc"), or bytes without a status line (HTTP/0.9).
            return std::string(FailureCode::kProtocol);
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_PARTIAL_FILE:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_USE_SSL_FAILED:
            return std::string(FailureCode::kProtocol);
        case CURLE_OUT_OF_MEMORY:
            return "ENOMEM";
        default:
            return std::string(FailureCode::kProtocol);
    }
}

}  // namespace quelvar::status
