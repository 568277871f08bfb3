#include "status/SelfSignedCertificate.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "status/ServiceError.h"
#include "status/TlsKeyPair.h"

namespace quelvar::status {

namespace {

constexpr long kValidDays = 397;
// A certificate this close to its end is replaced at start.
constexpr int kRenewDays = 30;

template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

void writePrivateFile(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) {
            throw ServiceError("cannot write " + temporary);
        }
    }
    chmod(temporary.c_str(), 0600);
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        throw ServiceError("cannot write " + path + ": " + error.message());
    }
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(length));
}

// Returns whether the pair parses, belongs together, stays valid long enough and is for every
// name asked for.
bool usable(const std::string& certPem, const std::string& keyPem,
            const std::vector<std::string>& names) {
    try {
        const TlsKeyPair pair(certPem, keyPem);
        return pair.daysLeft() >= kRenewDays &&
               std::all_of(names.begin(), names.end(),
                           [&pair](const std::string& name) { return pair.covers(name); });
    } catch (const ServiceError&) {
        return false;
    }
}

bool isIpAddress(const std::string& name) {
    unsigned char address[16];
    return inet_pton(AF_INET, name.c_str(), address) == 1 ||
           inet_pton(AF_INET6, name.c_str(), address) == 1;
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    Owned<X509_EXTENSION, X509_EXTENSION_free> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    if (!extension || X509_add_ext(cert, extension.get(), -1) != 1) {
        throw ServiceError("cannot build the self-signed certificate");
    }
}

std::pair<std::string, std::string> generate(const std::string& commonName,
                                             const std::vector<std::string>& names) {
    Owned<EVP_PKEY, EVP_PKEY_free> key(EVP_EC_gen("P-256"));
    Owned<X509, X509_free> cert(X509_new());
    if (!key || !cert) {
        throw ServiceError("cannot generate the key of the self-signed certificate");
    }
    X509_set_version(cert.get(), 2);
    Owned<BIGNUM, BN_free> serial(BN_new());
    BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get()));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValidDays * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(cert.get(), NID_ext_key_usage, "serverAuth");
    // The names are checked host names and IP addresses, so no comma can add an entry.
    std::string altNames;
    for (const std::string& name : names) {
        altNames +=
            (altNames.empty() ? "" : ",") + std::string(isIpAddress(name) ? "IP:" : "DNS:") + name;
    }
    addExtension(cert.get(), NID_subject_alt_name, altNames.c_str());
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        throw ServiceError("cannot sign the self-signed certificate");
    }
    Owned<BIO, BIO_free_all> certBio(BIO_new(BIO_s_mem()));
    Owned<BIO, BIO_free_all> keyBio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(certBio.get(), cert.get());
    PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    return {bioText(certBio.get()), bioText(keyBio.get())};
}

}  // namespace

std::string SelfSignedCertificate::defaultDirectory() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        return std::string(state) + "/quelvar-status";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/state/quelvar-status";
}

std::string SelfSignedCertificate::localHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

SelfSignedCertificate SelfSignedCertificate::loadOrCreateDemo(const std::string& directory) {
    return loadOrCreate(directory, "demo", "quelvar-status demo",
                        {"127.0.0.1", "::1", "localhost"});
}

SelfSignedCertificate SelfSignedCertificate::loadOrCreateForHost(const std::string& directory,
                                                                 const std::string& hostName) {
    return loadOrCreate(directory, "self-signed", hostName, {hostName});
}

SelfSignedCertificate SelfSignedCertificate::loadOrCreate(const std::string& directory,
                                                          const std::string& fileStem,
                                                          const std::string& commonName,
                                                          const std::vector<std::string>& names) {
    SelfSignedCertificate made;
    made.m_certPath = directory + "/" + fileStem + "-cert.pem";
    const std::string keyPath = directory + "/" + fileStem + "-key.pem";
    made.m_certPem = readFile(made.m_certPath);
    made.m_keyPem = readFile(keyPath);
    if (usable(made.m_certPem, made.m_keyPem, names)) {
        return made;
    }
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        throw ServiceError("cannot make " + directory + ": " + error.message());
    }
    chmod(directory.c_str(), 0700);
    std::tie(made.m_certPem, made.m_keyPem) = generate(commonName, names);
    writePrivateFile(keyPath, made.m_keyPem);
    writePrivateFile(made.m_certPath, made.m_certPem);
    made.m_created = true;
    return made;
}

}  // namespace quelvar::status
