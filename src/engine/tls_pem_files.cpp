#include "engine/tls_pem_files.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "platform/files.h"

namespace morlak {

namespace {

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The whole file in a memory BIO, or null.
BioPtr ReadPem(const std::string& path, std::string& content) {
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return nullptr;
  content = std::move(*text);
  return BioPtr(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
}

}  // namespace

bool UseCertificateChainFile(SSL_CTX* context, const std::string& path) {
  std::string content;
  BioPtr bio = ReadPem(path, content);
  if (!bio) return false;
  X509Ptr leaf(PEM_read_bio_X509_AUX(bio.get(), nullptr, nullptr, nullptr));
  if (!leaf || SSL_CTX_use_certificate(context, leaf.get()) != 1) return false;
  if (SSL_CTX_clear_chain_certs(context) != 1) return false;
  while (X509Ptr next{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
    if (SSL_CTX_add0_chain_cert(context, next.get()) != 1) return false;
    next.release();  // the context owns it now
  }
  // The end of the data leaves a "no start line" error, which is no failure; any other is.
  const unsigned long last = ERR_peek_last_error();
  if (last != 0 &&
      (ERR_GET_LIB(last) != ERR_LIB_PEM || ERR_GET_REASON(last) != PEM_R_NO_START_LINE))
    return false;
  ERR_clear_error();
  return true;
}

bool UsePrivateKeyFile(SSL_CTX* context, const std::string& path) {
  std::string content;
  BioPtr bio = ReadPem(path, content);
  if (!bio) return false;
  EVP_PKEY* key =
      PEM_read_bio_PrivateKey(bio.get(), nullptr, SSL_CTX_get_default_passwd_cb(context),
                              SSL_CTX_get_default_passwd_cb_userdata(context));
  if (!key) return false;
  const bool used = SSL_CTX_use_PrivateKey(context, key) == 1;
  EVP_PKEY_free(key);
  return used;
}

bool LoadRootFile(SSL_CTX* context, const std::string& path) {
  std::string content;
  BioPtr bio = ReadPem(path, content);
  if (!bio) return false;
  STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr);
  if (!infos) return false;
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  STACK_OF(X509_NAME)* issuers = sk_X509_NAME_new(
      [](const X509_NAME* const* a, const X509_NAME* const* b) { return X509_NAME_cmp(*a, *b); });
  int loaded = 0;
  bool ok = issuers != nullptr;
  for (int i = 0; ok && i < sk_X509_INFO_num(infos); ++i) {
    const X509_INFO* info = sk_X509_INFO_value(infos, i);
    if (info->x509) {
      ok = X509_STORE_add_cert(store, info->x509) == 1;
      X509_NAME* subject = X509_get_subject_name(info->x509);
      if (ok && sk_X509_NAME_find(issuers, subject) < 0) {
        X509_NAME* copy = X509_NAME_dup(subject);
        ok = copy && sk_X509_NAME_push(issuers, copy) > 0;
        if (!ok) X509_NAME_free(copy);
      }
      ++loaded;
    }
    if (ok && info->crl) {
      ok = X509_STORE_add_crl(store, info->crl) == 1;
      ++loaded;
    }
  }
  sk_X509_INFO_pop_free(infos, X509_INFO_free);
  if (!ok || loaded == 0) {
    sk_X509_NAME_pop_free(issuers, X509_NAME_free);
    return false;
  }
  SSL_CTX_set_client_CA_list(context, issuers);
  return true;
}

}  // namespace morlak
