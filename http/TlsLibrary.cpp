#include "http/TlsLibrary.h"

#include <openssl/ssl.h>

#include <mutex>

#include "base/Error.h"

namespace quelvar {

namespace {

std::mutex& loadMutex() {
    static std::mutex mutex;
    return mutex;
}

bool g_loaded = false;
bool g_simulateFailure = false;

}  // namespace

void TlsLibrary::ensureLoaded() {
    const std::lock_guard lock(loadMutex());
    if (g_simulateFailure) {
        throw Error("Could not load SSL library.");
    }
    if (g_loaded) {
        return;
    }
    if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                         nullptr) != 1) {
        throw Error("Could not load SSL library.");
    }
    g_loaded = true;
}

bool TlsLibrary::isLoaded() {
    const std::lock_guard lock(loadMutex());
    return g_loaded && !g_simulateFailure;
}

void TlsLibrary::simulateLoadFailure(bool simulate) {
    const std::lock_guard lock(loadMutex());
    g_simulateFailure = simulate;
}

}  // namespace quelvar
