// SPDX-License-Identifier: Apache-2.0
// The certificate files behind our loopback HTTPS services: created, verifiable, reused while
// valid, and replaced when broken or issued for other names.
#include "TlsCertificate.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

X509* loadCertificate(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return nullptr;
    }
    X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    return cert;
}

// Verifies `certFile` against `caFile` as a client would, including the host name or address.
bool verifies(const std::string& caFile, const std::string& certFile, const std::string& host) {
    X509* ca = loadCertificate(caFile);
    X509* cert = loadCertificate(certFile);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    bool ok = ca != nullptr && cert != nullptr && X509_STORE_add_cert(store, ca) == 1 &&
              X509_STORE_CTX_init(context, store, cert, nullptr) == 1;
    if (ok) {
        X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context);
        X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_X509_STRICT);
        if (host.find_first_not_of("0123456789.") == std::string::npos) {
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        } else {
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
        }
        ok = X509_verify_cert(context) == 1;
    }
    X509_STORE_CTX_free(context);
    X509_STORE_free(store);
    X509_free(cert);
    X509_free(ca);
    return ok;
}

class TlsCertificateTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tlscert-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        directory = root + "/certs/nested";
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    tlscert::CertificateFiles ensure(const std::vector<std::string>& hosts) {
        tlscert::CertificateFiles files;
        std::string error;
        EXPECT_TRUE(tlscert::ensureServerCertificate(directory, hosts, files, error)) << error;
        return files;
    }

    std::string root;
    std::string directory;
};

TEST_F(TlsCertificateTest, CreatesAVerifiableCertificateForAddressesAndNames) {
    const auto files = ensure({"127.0.0.1", "localhost"});
    EXPECT_EQ(files.caCertFile, directory + "/ca.pem");
    EXPECT_EQ(files.certFile, directory + "/server.pem");
    EXPECT_EQ(files.keyFile, directory + "/server.key");
    EXPECT_TRUE(verifies(files.caCertFile, files.certFile, "127.0.0.1"));
    EXPECT_TRUE(verifies(files.caCertFile, files.certFile, "localhost"));
    EXPECT_FALSE(verifies(files.caCertFile, files.certFile, "127.0.0.2"));
    EXPECT_FALSE(verifies(files.caCertFile, files.certFile, "array.example"));

    struct stat info {};
    ASSERT_EQ(stat(files.keyFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    X509* ca = loadCertificate(files.caCertFile);
    ASSERT_NE(ca, nullptr);
    EXPECT_EQ(X509_check_ca(ca), 1);
    X509_free(ca);
}

TEST_F(TlsCertificateTest, ValidFilesAreReusedAndNewNamesKeepTheCa) {
    const auto first = ensure({"127.0.0.1"});
    const std::string ca = readFile(first.caCertFile);
    const std::string cert = readFile(first.certFile);
    chmod(first.keyFile.c_str(), 0644);

    const auto second = ensure({"127.0.0.1"});
    EXPECT_EQ(readFile(second.caCertFile), ca);
    EXPECT_EQ(readFile(second.certFile), cert);
    struct stat info {};
    ASSERT_EQ(stat(second.keyFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const auto third = ensure({"127.0.0.1", "array.example"});
    EXPECT_EQ(readFile(third.caCertFile), ca);
    EXPECT_NE(readFile(third.certFile), cert);
    EXPECT_TRUE(verifies(third.caCertFile, third.certFile, "array.example"));
}

TEST_F(TlsCertificateTest, BrokenFilesAreReplaced) {
    const auto first = ensure({"127.0.0.1"});
    std::ofstream(first.keyFile, std::ios::trunc) << "not a key";
    const auto second = ensure({"127.0.0.1"});
    EXPECT_TRUE(verifies(second.caCertFile, second.certFile, "127.0.0.1"));
    EXPECT_NE(readFile(second.keyFile), "not a key");

    std::ofstream(first.caCertFile, std::ios::trunc) << "garbage";
    const auto third = ensure({"127.0.0.1"});
    EXPECT_TRUE(verifies(third.caCertFile, third.certFile, "127.0.0.1"));
}

TEST_F(TlsCertificateTest, RefusesMissingOrUnusableHostNames) {
    tlscert::CertificateFiles files;
    files.certFile = "unchanged";
    std::string error;
    EXPECT_FALSE(tlscert::ensureServerCertificate(directory, {}, files, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(tlscert::ensureServerCertificate(directory, {"a,DNS:evil"}, files, error));
    EXPECT_FALSE(tlscert::ensureServerCertificate(directory, {""}, files, error));
    EXPECT_EQ(files.certFile, "unchanged");

    std::ofstream(root + "/plainfile") << "x";
    EXPECT_FALSE(
        tlscert::ensureServerCertificate(root + "/plainfile/sub", {"127.0.0.1"}, files, error));
    EXPECT_NE(error.find("cannot create directory"), std::string::npos) << error;
}

}  // namespace
