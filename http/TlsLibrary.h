#pragma once

namespace quelvar {

// The process-wide TLS library (OpenSSL): initialised once, on the first https request, under
// a lock, and kept for the rest of the process.
class TlsLibrary {
public:
    // Makes sure the library is initialised; throws Error "Could not load SSL library." when it
    // cannot be.
    static void ensureLoaded();
    // Returns whether the library has been initialised.
    static bool isLoaded();

    // Makes every later ensureLoaded() fail as if the library were missing, or (false) lets it
    // load again; for tests, since the library is linked and always present.
    static void simulateLoadFailure(bool simulate);
};

}  // namespace quelvar
