#include "test_certificates.hpp"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "temp_dir.hpp"

namespace qeltest {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("test certificates: " + what);
}

void check(int ok, const char* what) {
  if (ok != 1) fail(what);
}

// P-256 keys: generated in a millisecond, unlike RSA, and accepted by
// OpenSSL, libcurl and Node alike.
Key make_key() {
  Key key(EVP_EC_gen("P-256"));
  if (!key) fail("EC key generation");
  return key;
}

void set_random_serial(X509* cert) {
  unsigned char bytes[8];
  check(RAND_bytes(bytes, sizeof bytes), "RAND_bytes");
  bytes[0] &= 0x7f;  // serial numbers must be positive
  BIGNUM* bn = BN_bin2bn(bytes, sizeof bytes, nullptr);
  if (!bn) fail("BN_bin2bn");
  ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
  BN_free(bn);
  if (!serial) fail("serial number");
}

void add_extension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value);
  if (!ext) fail(std::string("extension ") + OBJ_nid2sn(nid));
  int ok = X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  check(ok, "X509_add_ext");
}

// A certificate for `subject_key` named `common_name`. With no issuer it
// signs itself (the CA); the validity window starts an hour back so clock
// skew between processes never matters.
Cert make_certificate(EVP_PKEY* subject_key, const char* common_name, X509* issuer, EVP_PKEY* issuer_key) {
  Cert cert(X509_new());
  if (!cert) fail("X509_new");
  check(X509_set_version(cert.get(), 2), "X509_set_version");
  set_random_serial(cert.get());
  if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600)) fail("notBefore");
  if (!X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600)) fail("notAfter");
  check(X509_set_pubkey(cert.get(), subject_key), "X509_set_pubkey");

  X509_NAME* name = X509_get_subject_name(cert.get());
  check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("qelkit tests"), -1,
                                   -1, 0),
        "subject O");
  check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name), -1,
                                   -1, 0),
        "subject CN");
  X509* signer = issuer ? issuer : cert.get();
  check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)), "issuer name");

  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, signer, cert.get(), nullptr, nullptr, 0);
  add_extension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
  if (issuer) {
    add_extension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    add_extension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature");
    add_extension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth");
    add_extension(cert.get(), &ctx, NID_subject_alt_name, "DNS:api.localhost,DNS:localhost,IP:127.0.0.1");
  } else {
    add_extension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE");
    add_extension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
  }
  if (X509_sign(cert.get(), issuer_key ? issuer_key : subject_key, EVP_sha256()) <= 0) {
    fail("X509_sign");
  }
  return cert;
}

std::unique_ptr<BIO, BioFree> open_for_writing(const std::string& path) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new_file(path.c_str(), "w"));
  if (!bio) fail("cannot write " + path);
  return bio;
}

void write_certificate(const std::string& path, X509* cert) {
  check(PEM_write_bio_X509(open_for_writing(path).get(), cert), "PEM_write_bio_X509");
}

void write_key(const std::string& path, EVP_PKEY* key) {
  check(PEM_write_bio_PrivateKey(open_for_writing(path).get(), key, nullptr, nullptr, 0, nullptr, nullptr),
        "PEM_write_bio_PrivateKey");
}

TestCertificates generate(const TempDir& dir) {
  Key ca_key = make_key();
  Cert ca = make_certificate(ca_key.get(), "qelkit test CA", nullptr, nullptr);
  Key server_key = make_key();
  Cert server = make_certificate(server_key.get(), "api.localhost", ca.get(), ca_key.get());

  TestCertificates files{dir.path() + "/ca.pem", dir.path() + "/server.pem", dir.path() + "/server.key"};
  write_certificate(files.ca_file, ca.get());
  write_certificate(files.cert_file, server.get());
  write_key(files.key_file, server_key.get());
  return files;
}

}  // namespace

const TestCertificates& test_certificates() {
  // The directory is a function-local static so it is removed at exit,
  // after every mock (all of them are destroyed before statics are).
  static TempDir dir("qeltest-certs");
  static const TestCertificates files = generate(dir);
  return files;
}

}  // namespace qeltest
