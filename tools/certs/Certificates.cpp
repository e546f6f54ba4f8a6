#include "tools/certs/Certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace ovcerts {
namespace {

struct Deleter {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
  void operator()(std::FILE* p) const { std::fclose(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Deleter>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("certificate generation failed: ") + what);
}

Owned<EVP_PKEY> newKey() {
  Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
  check(key != nullptr, "key");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  Owned<X509_EXTENSION> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
  check(ext != nullptr, "extension");
  check(X509_add_ext(cert, ext.get(), -1) == 1, "add extension");
}

Owned<X509> newCertificate(EVP_PKEY* key, const std::string& commonName, long serial) {
  Owned<X509> cert(X509_new());
  check(cert != nullptr, "x509");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  // Valid from an hour ago, so a clock a little behind does not reject it.
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * 30);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  return cert;
}

void writePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  Owned<std::FILE> f(std::fopen(path.c_str(), "wb"));
  check(f != nullptr, path.c_str());
  if (cert != nullptr) check(PEM_write_X509(f.get(), cert) == 1, "write certificate");
  if (key != nullptr)
    check(PEM_write_PrivateKey(f.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "write key");
}

bool isIpAddress(const std::string& host) {
  return host.find_first_not_of("0123456789.") == std::string::npos || host.find(':') != std::string::npos;
}

}  // namespace

CertificateFiles makeCertificates(const std::string& folder, const std::vector<std::string>& hostNames) {
  auto caKey = newKey();
  auto ca = newCertificate(caKey.get(), "OVDownloader throw-away test CA", 1);
  X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
  addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
  addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  check(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "sign CA");

  auto serverKey = newKey();
  auto server = newCertificate(serverKey.get(), hostNames.empty() ? "localhost" : hostNames.front(), 2);
  X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
  std::string san;
  for (const auto& host : hostNames) {
    if (!san.empty()) san += ",";
    san += (isIpAddress(host) ? "IP:" : "DNS:") + host;
  }
  addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid");
  if (!san.empty()) addExtension(server.get(), ca.get(), NID_subject_alt_name, san);
  check(X509_sign(server.get(), caKey.get(), EVP_sha256()) > 0, "sign server");

  CertificateFiles files{folder + "/ca.pem", folder + "/server.pem", folder + "/server.key"};
  writePem(files.caCertificate, ca.get(), nullptr);
  writePem(files.serverCertificate, server.get(), nullptr);
  writePem(files.serverKey, nullptr, serverKey.get());
  return files;
}

}  // namespace ovcerts
