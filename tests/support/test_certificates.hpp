#pragma once

#include <string>

namespace qeltest {

// PEM files of a throw-away certificate authority and of a server
// certificate it signed for api.localhost (also valid for localhost and
// 127.0.0.1). Generated in memory on first use, written to a temporary
// directory that lives until the process ends, and shared by every mock.
struct TestCertificates {
  std::string ca_file;    // CA certificate: what clients trust
  std::string cert_file;  // server certificate
  std::string key_file;   // server private key
};

const TestCertificates& test_certificates();

}  // namespace qeltest
