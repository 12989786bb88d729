#include "support/tls_test_support.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <thread>

#include "platform/socket.h"

namespace morlak::test_support {

namespace {

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value)) {
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
}

std::string Drain(BIO* bio) {
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<size_t>(n > 0 ? n : 0));
  BIO_free(bio);
  return text;
}

}  // namespace

TestCertificate::TestCertificate(const std::string& commonName, const TestCertificate* issuer,
                                 bool ca, long validSeconds)
    : key_(EVP_EC_gen("P-256"), EVP_PKEY_free), cert_(X509_new(), X509_free) {
  static long serial = 1;
  X509* c = cert_.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial++);
  if (validSeconds >= 0) {
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), validSeconds);
  } else {
    X509_gmtime_adj(X509_getm_notBefore(c), validSeconds - 86400);
    X509_gmtime_adj(X509_getm_notAfter(c), validSeconds);
  }
  X509_set_pubkey(c, key_.get());
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Morlak Test"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer->Cert()) : name);
  AddExtension(c, issuer ? issuer->Cert() : c, NID_basic_constraints,
               ca ? "critical,CA:TRUE" : "CA:FALSE");
  AddExtension(c, c, NID_subject_key_identifier, "hash");
  AddExtension(c, c, NID_subject_alt_name, "DNS:localhost");
  X509_sign(c, issuer ? issuer->Key() : key_.get(), EVP_sha256());
}

std::string TestCertificate::CertPem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert_.get());
  return Drain(bio);
}

std::string TestCertificate::KeyPem(const std::string& password) const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key_.get(), password.empty() ? nullptr : EVP_aes_256_cbc(),
                           reinterpret_cast<const unsigned char*>(password.data()),
                           static_cast<int>(password.size()), nullptr, nullptr);
  return Drain(bio);
}

TlsClient::TlsClient(int port, const TlsClientOptions& options)
    : byteByByte_(options.byteByByte), finishWithRequest_(options.finishWithRequest) {
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (options.maxVersion) {
    // Old protocols need the weakest security level even to be offered.
    SSL_CTX_set_security_level(ctx_, 0);
    SSL_CTX_set_cipher_list(ctx_, "ALL:@SECLEVEL=0");
    SSL_CTX_set_min_proto_version(ctx_, 0);
    SSL_CTX_set_max_proto_version(ctx_, options.maxVersion);
  }
  if (options.cipherList) {
    SSL_CTX_set_security_level(ctx_, 0);
    SSL_CTX_set_cipher_list(ctx_, options.cipherList);
    SSL_CTX_set_max_proto_version(ctx_, TLS1_2_VERSION);
  }
  if (options.certificate) {
    SSL_CTX_use_certificate(ctx_, options.certificate->Cert());
    SSL_CTX_use_PrivateKey(ctx_, options.certificate->Key());
  }
  ssl_ = SSL_new(ctx_);
  in_ = BIO_new(BIO_s_mem());
  out_ = BIO_new(BIO_s_mem());
  SSL_set_bio(ssl_, in_, out_);
  SSL_set_connect_state(ssl_);
  if (options.resume) SSL_set_session(ssl_, options.resume);
  socket_ = SocketCreateStream();
  if (socket_ != kInvalidSocket && !SocketConnect(socket_, "127.0.0.1", port)) {
    SocketClose(socket_);
    socket_ = kInvalidSocket;
  }
}

TlsClient::~TlsClient() {
  if (ssl_) SSL_free(ssl_);
  if (ctx_) SSL_CTX_free(ctx_);
  if (socket_ != kInvalidSocket) SocketClose(socket_);
  ERR_clear_error();
}

bool TlsClient::Flush(bool byteByByte) {
  char* data = nullptr;
  const long n = BIO_get_mem_data(out_, &data);
  const size_t step = byteByByte ? 1 : static_cast<size_t>(n);
  for (long sent = 0; sent < n;) {
    const size_t len = std::min(step, static_cast<size_t>(n - sent));
    const int64_t r = SocketSend(socket_, data + sent, len, false);
    if (r <= 0) return false;
    sent += r;
    if (byteByByte) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  (void)BIO_reset(out_);
  return true;
}

bool TlsClient::Fill() {
  char buffer[16384];
  if (SocketWaitReadable(socket_, 10000) <= 0) return false;
  const int64_t n = SocketRecv(socket_, buffer, sizeof buffer);
  if (n <= 0) return false;
  BIO_write(in_, buffer, static_cast<int>(n));
  return true;
}

bool TlsClient::Handshake() {
  if (socket_ == kInvalidSocket) return false;
  for (;;) {
    const int r = SSL_do_handshake(ssl_);
    if (r == 1 && finishWithRequest_) return true;
    if (!Flush(byteByByte_)) return false;
    byteByByte_ = false;  // only the hello
    if (r == 1) return true;
    if (SSL_get_error(ssl_, r) != SSL_ERROR_WANT_READ || !Fill()) return false;
  }
}

std::string TlsClient::Fetch(const std::string& request) {
  if (!SSL_is_init_finished(ssl_) && !Handshake()) return std::string();
  if (SSL_write(ssl_, request.data(), static_cast<int>(request.size())) <= 0 || !Flush(false))
    return std::string();
  std::string answer;
  char buffer[16384];
  for (;;) {
    const int n = SSL_read(ssl_, buffer, sizeof buffer);
    if (n > 0) {
      answer.append(buffer, static_cast<size_t>(n));
      continue;
    }
    Flush(false);
    if (SSL_get_error(ssl_, n) != SSL_ERROR_WANT_READ || !Fill()) return answer;
  }
}

bool TlsClient::SendCutShort(const std::string& request, size_t withheld) {
  if (!SSL_is_init_finished(ssl_) && !Handshake()) return false;
  if (SSL_write(ssl_, request.data(), static_cast<int>(request.size())) <= 0) return false;
  char* data = nullptr;
  const long n = BIO_get_mem_data(out_, &data);
  if (n <= static_cast<long>(withheld)) return false;
  const size_t length = static_cast<size_t>(n) - withheld;
  const bool sent = SocketSend(socket_, data, length, false) == static_cast<int64_t>(length);
  (void)BIO_reset(out_);
  return sent;
}

bool TlsClient::ClosedByServer(int timeoutMs) {
  char buffer[16384];
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || SocketWaitReadable(socket_, static_cast<int>(left.count())) <= 0)
      return false;
    const int64_t n = SocketRecv(socket_, buffer, sizeof buffer);
    if (n <= 0) return true;
    // Session tickets may still arrive; anything else means the request was answered.
    BIO_write(in_, buffer, static_cast<int>(n));
    if (SSL_read(ssl_, buffer, sizeof buffer) > 0) return false;
  }
}

std::string MakeClientHello() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL* ssl = SSL_new(ctx);
  BIO* out = BIO_new(BIO_s_mem());
  SSL_set_bio(ssl, BIO_new(BIO_s_mem()), out);
  SSL_set_connect_state(ssl);
  SSL_do_handshake(ssl);
  char* data = nullptr;
  const long n = BIO_get_mem_data(out, &data);
  std::string hello(data, static_cast<size_t>(n > 0 ? n : 0));
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  ERR_clear_error();
  return hello;
}

std::string TlsGetRequest(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
}

}  // namespace morlak::test_support
