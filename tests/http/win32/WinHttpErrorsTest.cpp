#include "http/win32/WinHttpErrors.h"

#include <gtest/gtest.h>
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <winhttp.h>

namespace quelvar {
namespace {

using Check = RestClient::Session::CertificateCheck;

// Which failed sends the certificate repeat answers, on the first attempt (checks on) and on
// the repeat (checks off).
TEST(WinHttpErrorsTest, CertificateFailuresByCode) {
    struct Case {
        const char* name;
        DWORD error;
        bool firstAttempt;
        bool repeat;
    };
    const Case cases[] = {
        {"security failure", 12175, true, true},
        {"certificate date", 12037, true, true},
        {"certificate name", 12038, true, true},
        {"certificate authority", 12045, true, true},
        {"secure channel error", 12157, true, false},
        {"client certificate needed", 12044, false, false},
        {"time-out", 12002, false, false},
        {"cannot connect", 12029, false, false},
        {"connection error", 12030, false, false},
        {"invalid server response", 12152, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isCertificateFailure(c.error, Check::Verify), c.firstAttempt);
        EXPECT_EQ(isCertificateFailure(c.error, Check::Ignore), c.repeat);
    }
}

// Socket errors that Wine's WinHTTP passes through read as WinHTTP's own; the rest unchanged.
TEST(WinHttpErrorsTest, SocketErrorsReadAsWinHttpErrors) {
    struct Case {
        DWORD socket;
        DWORD winHttp;
    };
    const Case cases[] = {
        {WSAETIMEDOUT, ERROR_WINHTTP_TIMEOUT},
        {WSAECONNRESET, ERROR_WINHTTP_CONNECTION_ERROR},
        {WSAECONNABORTED, ERROR_WINHTTP_CONNECTION_ERROR},
        {WSAESHUTDOWN, ERROR_WINHTTP_CONNECTION_ERROR},
        {WSAENOTCONN, ERROR_WINHTTP_CONNECTION_ERROR},
        {WSAECONNREFUSED, ERROR_WINHTTP_CANNOT_CONNECT},
        {WSAEHOSTUNREACH, ERROR_WINHTTP_CANNOT_CONNECT},
        {WSAENETUNREACH, ERROR_WINHTTP_CANNOT_CONNECT},
        {WSAHOST_NOT_FOUND, ERROR_WINHTTP_NAME_NOT_RESOLVED},
        {ERROR_WINHTTP_SECURE_FAILURE, ERROR_WINHTTP_SECURE_FAILURE},
        {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.socket);
        EXPECT_EQ(winHttpError(c.socket), c.winHttp);
    }
}

// Every certificate failure comes with its number and a text, from winhttp.dll's table or,
// where it has none, from the built-in copy.
TEST(WinHttpErrorsTest, CertificateFailuresHaveTheirTexts) {
    for (const DWORD error : {12175u, 12037u, 12038u, 12045u, 12157u}) {
        SCOPED_TRACE(error);
        const std::string cause = winHttpCause(error);
        const std::string number = "(" + std::to_string(error) + ") ";
        ASSERT_EQ(cause.rfind(number, 0), 0u) << cause;
        EXPECT_GT(cause.size(), number.size() + 10) << cause;
    }
}

}  // namespace
}  // namespace quelvar
