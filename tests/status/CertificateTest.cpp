// The TLS pair the service serves: what makes a pair bad, which name it is for, and where the
// certificate comes from while the configured files are missing.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <filesystem>

#include "status/CertificateSource.h"
#include "status/SelfSignedCertificate.h"
#include "status/ServiceError.h"
#include "status/TlsKeyPair.h"
#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/fixtures/ThrowMessage.h"

using namespace quelvar::test;
using quelvar::status::CertificateOrigin;
using quelvar::status::CertificateSource;
using quelvar::status::SelfSignedCertificate;
using quelvar::status::ServiceError;
using quelvar::status::TlsKeyPair;

namespace {

Certificate certificateFor(const std::string& commonName, std::vector<std::string> dnsNames,
                           std::vector<std::string> ipAddresses, long notAfterOffset = 86400) {
    CertificateSettings settings;
    settings.commonName = commonName;
    settings.dnsNames = std::move(dnsNames);
    settings.ipAddresses = std::move(ipAddresses);
    settings.notAfterOffset = notAfterOffset;
    return makeCertificate(settings);
}

// Returns the key encrypted with a passphrase, as "openssl pkey -aes128" writes it.
std::string encryptedKey(const std::string& keyPem) {
    BIO* in = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
    BIO* out = BIO_new(BIO_s_mem());
    static const char kPassphrase[] = "secret";
    PEM_write_bio_PKCS8PrivateKey(out, key, EVP_aes_128_cbc(), nullptr, 0, nullptr,
                                  const_cast<char*>(kPassphrase));
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string text(data, static_cast<std::size_t>(length));
    BIO_free(out);
    EVP_PKEY_free(key);
    BIO_free(in);
    return text;
}

}  // namespace

TEST(TlsKeyPairTest, BadPairsAreRefusedWithTheReason) {
    const Certificate good = certificateFor("a.example.test", {"a.example.test"}, {});
    const Certificate other = certificateFor("b.example.test", {"b.example.test"}, {});
    const Certificate expired = certificateFor("c.example.test", {"c.example.test"}, {}, -60);
    const Certificate rsa = [] {
        CertificateSettings settings;
        settings.keyType = KeyType::Rsa2048;
        return makeCertificate(settings);
    }();
    struct Case {
        const char* name;
        std::string certPem;
        std::string keyPem;
        std::string message;
    };
    const Case cases[] = {
        {"empty certificate", "", good.keyPem, "no PEM certificate in the certificate file"},
        {"key where the certificate belongs", good.keyPem, good.keyPem,
         "no PEM certificate in the certificate file"},
        {"certificate where the key belongs", good.certPem, good.certPem,
         "no PEM private key in the key file (an encrypted key cannot be used)"},
        {"encrypted key", good.certPem, encryptedKey(good.keyPem),
         "no PEM private key in the key file (an encrypted key cannot be used)"},
        {"key of another certificate", good.certPem, other.keyPem,
         "the key does not belong to the certificate"},
        {"RSA key for an EC certificate", good.certPem, rsa.keyPem,
         "the key does not belong to the certificate"},
        {"expired", expired.certPem, expired.keyPem, "the certificate has expired"},
        {"good EC pair", good.certPem, good.keyPem, "[no exception]"},
        {"good RSA pair", rsa.certPem, rsa.keyPem, "[no exception]"},
        {"chain of two", good.certPem + other.certPem, good.keyPem, "[no exception]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW_MESSAGE(TlsKeyPair(c.certPem, c.keyPem), ServiceError, c.message);
    }
}

TEST(TlsKeyPairTest, HostNameIsTheFirstDnsNameElseTheAddressElseTheCommonName) {
    struct Case {
        const char* name;
        Certificate cert;
        std::string hostName;
    };
    const Case cases[] = {
        {"DNS names and addresses",
         certificateFor("cn.example.test", {"one.example.test", "two.example.test"}, {"192.0.2.1"}),
         "one.example.test"},
        {"addresses only", certificateFor("cn.example.test", {}, {"2001:db8::1", "192.0.2.1"}),
         "2001:db8::1"},
        {"common name only", certificateFor("cn.example.test", {}, {}), "cn.example.test"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TlsKeyPair pair(c.cert.certPem, c.cert.keyPem);
        EXPECT_EQ(pair.hostName(), c.hostName);
        EXPECT_TRUE(pair.selfSigned());
        EXPECT_EQ(pair.fingerprint().size(), 32u * 3 - 1);
    }
}

TEST(CertificateSourceTest, OneFileOfThePairMissingIsAnErrorNotAFallback) {
    TempDir dir;
    const Certificate cert = certificateFor("a.example.test", {"a.example.test"}, {});
    const std::string certFile = dir.write("fullchain.pem", cert.certPem);
    const std::string keyFile = dir.write("privkey.pem", cert.keyPem);
    const std::string missing = dir.path() + "/missing.pem";
    for (const bool certMissing : {true, false}) {
        SCOPED_TRACE(certMissing ? "certificate missing" : "key missing");
        CertificateSource source = CertificateSource::files(certMissing ? missing : certFile,
                                                            certMissing ? keyFile : missing);
        source.setSelfSignedFallback(dir.path() + "/state", "host.example.test");
        EXPECT_THROW_MESSAGE(source.load(), ServiceError,
                             certMissing ? "the TLS certificate " + missing +
                                               " is missing, while its key " + keyFile + " is there"
                                         : "the TLS key " + missing +
                                               " is missing, while its certificate " + certFile +
                                               " is there");
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "/state"));
    }
}

TEST(CertificateSourceTest, SelfSignedWhileBothFilesAreMissingThenTheFiles) {
    TempDir dir;
    const std::string certFile = dir.path() + "/etc/fullchain.pem";
    const std::string keyFile = dir.path() + "/etc/privkey.pem";
    const std::string state = dir.path() + "/state";
    CertificateSource source = CertificateSource::files(certFile, keyFile);
    source.setSelfSignedFallback(state, "host.example.test");

    const auto first = source.load();
    EXPECT_EQ(first.origin, CertificateOrigin::SelfSigned);
    EXPECT_TRUE(first.created);
    EXPECT_EQ(first.certPath, state + "/self-signed-cert.pem");
    EXPECT_EQ(source.hostName(), "host.example.test");
    const TlsKeyPair pair(first.certPem, first.keyPem);
    EXPECT_TRUE(pair.selfSigned());
    EXPECT_TRUE(pair.covers("host.example.test"));
    EXPECT_GE(pair.daysLeft(), 390);
    EXPECT_EQ(std::filesystem::status(state + "/self-signed-key.pem").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    const auto second = source.load();
    EXPECT_FALSE(second.created) << "kept across starts";
    EXPECT_EQ(second.certPem, first.certPem);

    // A new name (the host renamed, or --public-name given) gets a certificate of its own.
    CertificateSource renamed = CertificateSource::files(certFile, keyFile);
    renamed.setSelfSignedFallback(state, "renamed.example.test");
    const auto third = renamed.load();
    EXPECT_TRUE(third.created);
    EXPECT_TRUE(TlsKeyPair(third.certPem, third.keyPem).covers("renamed.example.test"));

    // Once both files are there they are served, and the fallback is not asked.
    const Certificate real = certificateFor("real.example.test", {"real.example.test"}, {});
    std::filesystem::create_directories(dir.path() + "/etc");
    dir.write("etc/fullchain.pem", real.certPem);
    dir.write("etc/privkey.pem", real.keyPem);
    const auto files = source.load();
    EXPECT_EQ(files.origin, CertificateOrigin::Files);
    EXPECT_EQ(files.certPem, real.certPem);
    EXPECT_EQ(files.certPath, certFile);
    EXPECT_EQ(source.hostName(), "real.example.test");
}

TEST(CertificateSourceTest, DemoCertificateIsForLoopback) {
    TempDir dir;
    const SelfSignedCertificate demo = SelfSignedCertificate::loadOrCreateDemo(dir.path());
    const TlsKeyPair pair(demo.certPem(), demo.keyPem());
    for (const char* name : {"127.0.0.1", "::1", "localhost"}) {
        EXPECT_TRUE(pair.covers(name)) << name;
    }
    EXPECT_FALSE(pair.covers("example.test"));
    EXPECT_EQ(demo.certPath(), dir.path() + "/demo-cert.pem");
}
