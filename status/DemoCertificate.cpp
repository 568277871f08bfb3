#include "status/DemoCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "status/ServiceError.h"

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

// Returns whether the pair parses, belongs together and stays valid long enough.
bool usable(const std::string& certPem, const std::string& keyPem) {
    Owned<BIO, BIO_free_all> certBio(
        BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size())));
    Owned<BIO, BIO_free_all> keyBio(
        BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
    Owned<X509, X509_free> cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    Owned<EVP_PKEY, EVP_PKEY_free> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1) {
        return false;
    }
    int days = 0;
    int seconds = 0;
    return ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(cert.get())) == 1 &&
           days >= kRenewDays;
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    Owned<X509_EXTENSION, X509_EXTENSION_free> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    if (!extension || X509_add_ext(cert, extension.get(), -1) != 1) {
        throw ServiceError("cannot build the demo certificate");
    }
}

std::pair<std::string, std::string> generate() {
    Owned<EVP_PKEY, EVP_PKEY_free> key(EVP_EC_gen("P-256"));
    Owned<X509, X509_free> cert(X509_new());
    if (!key || !cert) {
        throw ServiceError("cannot generate the demo key");
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
                               reinterpret_cast<const unsigned char*>("quelvar-status demo"), -1,
                               -1, 0);
    X509_set_issuer_name(cert.get(), name);
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(cert.get(), NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,IP:::1,DNS:localhost");
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        throw ServiceError("cannot sign the demo certificate");
    }
    Owned<BIO, BIO_free_all> certBio(BIO_new(BIO_s_mem()));
    Owned<BIO, BIO_free_all> keyBio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(certBio.get(), cert.get());
    PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    return {bioText(certBio.get()), bioText(keyBio.get())};
}

}  // namespace

std::string DemoCertificate::defaultDirectory() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        return std::string(state) + "/quelvar-status";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/state/quelvar-status";
}

DemoCertificate DemoCertificate::loadOrCreate(const std::string& directory) {
    DemoCertificate demo;
    demo.m_certPath = directory + "/demo-cert.pem";
    const std::string keyPath = directory + "/demo-key.pem";
    demo.m_certPem = readFile(demo.m_certPath);
    demo.m_keyPem = readFile(keyPath);
    if (usable(demo.m_certPem, demo.m_keyPem)) {
        return demo;
    }
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        throw ServiceError("cannot make " + directory + ": " + error.message());
    }
    chmod(directory.c_str(), 0700);
    std::tie(demo.m_certPem, demo.m_keyPem) = generate();
    writePrivateFile(keyPath, demo.m_keyPem);
    writePrivateFile(demo.m_certPath, demo.m_certPem);
    demo.m_created = true;
    return demo;
}

}  // namespace quelvar::status
