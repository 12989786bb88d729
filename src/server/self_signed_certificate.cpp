#include "server/self_signed_certificate.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <memory>

#include "platform/files.h"
#include "platform/socket.h"

namespace morlak {

namespace {

constexpr int kKeyBits = 2048;
// Browsers refuse server certificates valid for longer than about two years.
constexpr long kValidDays = 825;
// Valid from an hour back, for clocks a little behind; the hour counts into the days.
constexpr long kBackdateSeconds = 3600;

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

bool AddExtension(X509* cert, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  if (!ext) return false;
  const bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return added;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

// The key and certificate as PEM texts; false when OpenSSL fails.
bool MakePem(const std::string& host, const std::string& password, std::string& keyPem,
             std::string& certPem) {
  KeyPtr key(EVP_RSA_gen(kKeyBits));
  CertPtr cert(X509_new());
  BnPtr serial(BN_new());
  if (!key || !cert || !serial) return false;
  X509_NAME* name = X509_get_subject_name(cert.get());
  auto* cn = reinterpret_cast<const unsigned char*>(host.c_str());
  std::string altNames = "DNS:" + host;
  if (host != "localhost") altNames += ",DNS:localhost";
  altNames += ",IP:127.0.0.1";
  if (X509_set_version(cert.get(), 2) != 1 || BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, 0) != 1 ||
      !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) ||
      !X509_gmtime_adj(X509_getm_notBefore(cert.get()), -kBackdateSeconds) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValidDays * 86400 - kBackdateSeconds) ||
      X509_set_pubkey(cert.get(), key.get()) != 1 ||
      X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>("Morlak"), -1, -1,
                                 0) != 1 ||
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, cn, -1, -1, 0) != 1 ||
      X509_set_issuer_name(cert.get(), name) != 1 ||
      !AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
      !AddExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment") ||
      !AddExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
      !AddExtension(cert.get(), NID_subject_alt_name, altNames) ||
      !AddExtension(cert.get(), NID_subject_key_identifier, "hash") ||
      X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
    return false;

  BioPtr keyBio(BIO_new(BIO_s_mem())), certBio(BIO_new(BIO_s_mem()));
  if (!keyBio || !certBio) return false;
  const EVP_CIPHER* cipher = password.empty() ? nullptr : EVP_aes_256_cbc();
  auto* pass = reinterpret_cast<const unsigned char*>(password.data());
  if (PEM_write_bio_PrivateKey(keyBio.get(), key.get(), cipher, pass,
                               static_cast<int>(password.size()), nullptr, nullptr) != 1 ||
      PEM_write_bio_X509(certBio.get(), cert.get()) != 1)
    return false;
  keyPem = BioText(keyBio.get());
  certPem = BioText(certBio.get());
  return !keyPem.empty() && !certPem.empty();
}

}  // namespace

CertificateResult MakeSelfSignedCertificate(ServerSettings& settings, const std::string& folder,
                                            bool overwrite) {
  const std::string keyPath = IncludeTrailingSeparator(folder) + kSelfSignedKeyFile;
  const std::string certPath = IncludeTrailingSeparator(folder) + kSelfSignedCertFile;
  if (!overwrite && (FileExists(keyPath) || FileExists(certPath)))
    return {false,
            "Certificate files already exist (" + certPath + ", " + keyPath +
                "); they were not replaced.",
            true};

  const std::string host = LocalHostName();
  std::string keyPem, certPem;
  const bool made = MakePem(host, settings.GetCertPassword(), keyPem, certPem);
  ERR_clear_error();
  if (!made) return {false, "Could not create the key and certificate."};
  if (!WriteFileAtomic(keyPath, keyPem, FileAccess::kOwnerOnly))
    return {false, "Could not write " + keyPath + "."};
  if (!WriteFileAtomic(certPath, certPem)) return {false, "Could not write " + certPath + "."};

  SettingsValues values = settings.Get();
  values.certCert = certPath;
  values.certKey = keyPath;
  values.certRoot = certPath;
  settings.Set(values);
  if (!settings.SaveSettings())
    return {false, "The certificate was written to " + certPath +
                       ", but the settings could not be saved."};
  return {true, "Self-signed certificate for " + host + " and localhost written to " + certPath +
                    ", its key to " + keyPath + "."};
}

}  // namespace morlak
