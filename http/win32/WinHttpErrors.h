#pragma once

#include <windows.h>

#include <string>

#include "http/RestClientSession.h"

namespace quelvar {

// Returns "(number) text" for a WinHTTP error, with the text from winhttp.dll's message table
// (the system's table for the general Windows errors WinHTTP also reports), or from a built-in
// copy of it where winhttp.dll has none.
std::string winHttpCause(DWORD error);

// Returns WinHTTP's error for a socket error. Wine's WinHTTP passes the errors of its sockets
// on as they are, where Windows reports them as its own; other errors are returned unchanged.
DWORD winHttpError(DWORD error);

// Returns whether a failed send is a failure of the server's certificate, one the caller
// answers by sending the request again with the certificate checks off. A secure channel error
// counts only while the checks are on: Wine reports an untrusted certificate that way, and a
// handshake that fails with the checks off fails in the same way.
bool isCertificateFailure(DWORD error, RestClient::Session::CertificateCheck check);

}  // namespace quelvar
