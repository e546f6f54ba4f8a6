#pragma once

#include <string>
#include <vector>

namespace ovcerts {

// Files of a throw-away certificate authority and one server certificate it
// signed, made fresh for a test or a demo run.
struct CertificateFiles {
  std::string caCertificate;      // PEM, the file OVDOWNLOADER_CA_FILE names
  std::string serverCertificate;  // PEM
  std::string serverKey;          // PEM, unencrypted
};

// Creates a CA and a server certificate valid for `hostNames` (DNS names or
// IP addresses) in `folder`, which must exist. Throws std::runtime_error.
CertificateFiles makeCertificates(const std::string& folder,
                                  const std::vector<std::string>& hostNames = {"localhost", "127.0.0.1"});

}  // namespace ovcerts
