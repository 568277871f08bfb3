#include "status/TlsKeyPair.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "status/ServiceError.h"

namespace quelvar::status {

namespace {

// More than any real chain holds (leaf, intermediates, perhaps a cross-signed root).
constexpr int kMaxChain = 16;

template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;

Owned<X509, X509_free> parseCertificate(const std::string& pem) {
    Owned<BIO, BIO_free_all> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return Owned<X509, X509_free>(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

// Refuses every passphrase: without it OpenSSL would ask for one on the terminal.
int noPassphrase(char*, int, int, void*) {
    return 0;
}

std::string hexPairs(const unsigned char* bytes, unsigned size) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned i = 0; i < size; ++i) {
        if (i != 0) {
            text += ':';
        }
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0xf];
    }
    return text;
}

std::string asn1Text(const ASN1_STRING* text) {
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                       static_cast<std::size_t>(ASN1_STRING_length(text)));
}

std::string ipText(const ASN1_OCTET_STRING* address) {
    char text[INET6_ADDRSTRLEN] = {};
    const int length = ASN1_STRING_length(address);
    const unsigned char* data = ASN1_STRING_get0_data(address);
    if (length == 4) {
        inet_ntop(AF_INET, data, text, sizeof text);
    } else if (length == 16) {
        inet_ntop(AF_INET6, data, text, sizeof text);
    }
    return text;
}

// The first DNS name, else the first IP address, else the common name.
std::string nameOf(X509* cert) {
    Owned<GENERAL_NAMES, GENERAL_NAMES_free> names(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
    std::string ip;
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_DNS) {
            return asn1Text(name->d.dNSName);
        }
        if (name->type == GEN_IPADD && ip.empty()) {
            ip = ipText(name->d.iPAddress);
        }
    }
    if (!ip.empty()) {
        return ip;
    }
    const X509_NAME* subject = X509_get_subject_name(cert);
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index < 0) {
        return {};
    }
    return asn1Text(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
}

}  // namespace

struct TlsKeyPair::Parsed {
    Owned<X509, X509_free> leaf;
    Owned<EVP_PKEY, EVP_PKEY_free> key;
    std::unique_ptr<STACK_OF(X509),
                    decltype([](STACK_OF(X509) * chain) { sk_X509_pop_free(chain, X509_free); })>
        chain;
};

TlsKeyPair::TlsKeyPair(const std::string& certPem, const std::string& keyPem) {
    const Owned<X509, X509_free> leaf = parseCertificate(certPem);
    if (!leaf) {
        throw ServiceError("no PEM certificate in the certificate file");
    }
    Owned<BIO, BIO_free_all> keyBio(
        BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
    Owned<EVP_PKEY, EVP_PKEY_free> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, &noPassphrase, nullptr));
    if (!key) {
        throw ServiceError("no PEM private key in the key file (an encrypted key cannot be used)");
    }
    if (X509_check_private_key(leaf.get(), key.get()) != 1) {
        throw ServiceError("the key does not belong to the certificate");
    }
    int days = 0;
    int seconds = 0;
    if (ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(leaf.get())) != 1) {
        throw ServiceError("the certificate's end date cannot be read");
    }
    if (days < 0 || seconds < 0 || (days == 0 && seconds == 0)) {
        throw ServiceError("the certificate has expired");
    }
    m_daysLeft = days;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned digestSize = 0;
    X509_digest(leaf.get(), EVP_sha256(), digest, &digestSize);
    m_fingerprint = hexPairs(digest, digestSize);
    m_hostName = nameOf(leaf.get());
    m_selfSigned = X509_self_signed(leaf.get(), 1) == 1;
    m_chainPem = certPem;

    m_parsed = std::make_unique<Parsed>();
    m_parsed->chain.reset(sk_X509_new_null());
    // The certificates after the leaf, as read from the same text.
    Owned<BIO, BIO_free_all> chainBio(
        BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size())));
    Owned<X509, X509_free> first(PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr));
    while (X509* next = PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr)) {
        if (sk_X509_num(m_parsed->chain.get()) >= kMaxChain - 1) {
            X509_free(next);
            throw ServiceError("the certificate chain cannot be read (more than " +
                               std::to_string(kMaxChain) + " certificates)");
        }
        sk_X509_push(m_parsed->chain.get(), next);
    }
    ERR_clear_error();
    m_parsed->leaf = std::move(first);
    m_parsed->key.reset(key.release());
}

TlsKeyPair::~TlsKeyPair() = default;

bool TlsKeyPair::covers(const std::string& name) const {
    const Owned<X509, X509_free> leaf = parseCertificate(m_chainPem);
    unsigned char address[16];
    if (inet_pton(AF_INET, name.c_str(), address) == 1 ||
        inet_pton(AF_INET6, name.c_str(), address) == 1) {
        return X509_check_ip_asc(leaf.get(), name.c_str(), 0) == 1;
    }
    return X509_check_host(leaf.get(), name.data(), name.size(), X509_CHECK_FLAG_NO_WILDCARDS,
                           nullptr) == 1;
}

bool TlsKeyPair::useIn(SSL* connection) const {
    // SSL_use_certificate and SSL_use_PrivateKey take their own references; the chain is
    // copied by SSL_set1_chain.
    return SSL_use_certificate(connection, m_parsed->leaf.get()) == 1 &&
           SSL_use_PrivateKey(connection, m_parsed->key.get()) == 1 &&
           SSL_set1_chain(connection, m_parsed->chain.get()) == 1;
}

}  // namespace quelvar::status
