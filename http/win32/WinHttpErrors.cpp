#include "http/win32/WinHttpErrors.h"

#include <winsock2.h>
// After winsock2.h, which must come first.
#include <winhttp.h>

#include "text/win32/WideText.h"

namespace quelvar {

namespace {

// winhttp.dll is imported by this program, so it is loaded whenever this code runs; its
// handle is taken from the loaded modules, never by loading a file of that name.
HMODULE winHttpModule() {
    static const HMODULE module = GetModuleHandleW(L"winhttp.dll");
    return module;
}

struct ErrorText {
    DWORD error;
    const char* text;
};

// The texts of winhttp.dll's message table for the errors an exchange can end with, for a
// winhttp.dll without that table (Wine's has none).
constexpr ErrorText kWinHttpTexts[] = {
    {ERROR_WINHTTP_TIMEOUT, "The operation timed out"},
    {ERROR_WINHTTP_INTERNAL_ERROR,
     "An internal error occurred in the Microsoft Windows HTTP Services"},
    {ERROR_WINHTTP_INVALID_URL, "The URL is invalid"},
    {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "The URL does not use a recognized protocol"},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, "The server name or address could not be resolved"},
    {ERROR_WINHTTP_OPERATION_CANCELLED, "The operation has been canceled"},
    {ERROR_WINHTTP_CANNOT_CONNECT, "A connection with the server could not be established"},
    {ERROR_WINHTTP_CONNECTION_ERROR, "The connection with the server was terminated abnormally"},
    {ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED,
     "A certificate is required to complete client authentication"},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE,
     "The server returned an invalid or unrecognized response"},
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "An error occurred in the secure channel support"},
    {ERROR_WINHTTP_SECURE_FAILURE, "A security error occurred"},
    {ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW, "The response exceeds an internal WinHTTP size limit"},
    {ERROR_WINHTTP_SECURE_INVALID_CA, "The certificate authority is invalid or incorrect"},
    {ERROR_WINHTTP_SECURE_CERT_CN_INVALID,
     "The host name in the certificate is invalid or does not match"},
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID,
     "The date in the certificate is invalid or has expired"},
};

}  // namespace

std::string winHttpCause(DWORD error) {
    std::string text = systemMessage(error, winHttpModule());
    if (text.empty()) {
        text = systemMessage(error);
    }
    if (text.empty()) {
        for (const ErrorText& known : kWinHttpTexts) {
            if (known.error == error) {
                text = known.text;
            }
        }
    }
    return "(" + std::to_string(error) + ") " + text;
}

DWORD winHttpError(DWORD error) {
    switch (error) {
        case WSAETIMEDOUT:
            return ERROR_WINHTTP_TIMEOUT;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAESHUTDOWN:
        case WSAENOTCONN:
            return ERROR_WINHTTP_CONNECTION_ERROR;
        case WSAECONNREFUSED:
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
            return ERROR_WINHTTP_CANNOT_CONNECT;
        case WSAHOST_NOT_FOUND:
            return ERROR_WINHTTP_NAME_NOT_RESOLVED;
        default:
            return error;
    }
}

bool isCertificateFailure(DWORD error, RestClient::Session::CertificateCheck check) {
    switch (error) {
        // Which of these a failed certificate gives depends on the Windows version and on the
        // security flags of the request: the summary 12175, or the date (12037), the name
        // (12038) or the authority (12045) of the certificate.
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
            return true;
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
            return check == RestClient::Session::CertificateCheck::Verify;
        default:
            return false;
    }
}

}  // namespace quelvar
