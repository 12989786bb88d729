// TLS helpers for loopback tests: certificates made at test time with OpenSSL (P-256
// keys, so making them is quick) and a TLS client that can present a certificate, cap
// its protocol version, resume a session and send its hello one byte at a time.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace morlak::test_support {

class TestCertificate {
 public:
  // Self-signed, or issued by `issuer`; a CA may issue others. Valid from one hour ago
  // for `validSeconds` (negative: expired that long ago).
  explicit TestCertificate(const std::string& commonName, const TestCertificate* issuer = nullptr,
                           bool ca = false, long validSeconds = 86400);

  std::string CertPem() const;
  // Encrypted with AES-256 when a password is given.
  std::string KeyPem(const std::string& password = "") const;
  X509* Cert() const { return cert_.get(); }
  EVP_PKEY* Key() const { return key_.get(); }

 private:
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key_;
  std::unique_ptr<X509, void (*)(X509*)> cert_;
};

struct TlsClientOptions {
  const TestCertificate* certificate = nullptr;  // presented when the server asks
  int maxVersion = 0;                            // TLS1_1_VERSION ...; 0: the newest
  SSL_SESSION* resume = nullptr;                 // offered for resumption
  const char* cipherList = nullptr;              // the TLS 1.2 suites offered
  bool byteByByte = false;                       // the hello leaves one byte at a time
  bool finishWithRequest = false;  // the last handshake flight leaves with the request
};

class TlsClient {
 public:
  TlsClient(int port, const TlsClientOptions& options = {});
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  // False when the server refused or closed (bounded: 10 s).
  bool Handshake();
  // Sends the request and reads the answer until the server closes; "" when the server
  // refused the connection.
  std::string Fetch(const std::string& request);
  // Encrypts the request and sends all of its records but the last `withheld` bytes.
  bool SendCutShort(const std::string& request, size_t withheld);
  // True when the server closes within `timeoutMs` without sending anything more.
  bool ClosedByServer(int timeoutMs);
  bool Resumed() const { return ssl_ && SSL_session_reused(ssl_) == 1; }
  bool CloseNotified() const { return ssl_ && (SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN); }
  // The session to offer on a later connection; the caller frees it.
  SSL_SESSION* TakeSession() const { return SSL_get1_session(ssl_); }

 private:
  // Sends what OpenSSL has written; false when the socket failed.
  bool Flush(bool byteByByte);
  // Receives once into OpenSSL's input; false on close, error or timeout.
  bool Fill();

  int socket_ = -1;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;
  BIO* out_ = nullptr;
  bool byteByByte_ = false;
  bool finishWithRequest_ = false;
};

// The first flight of a TLS client: a complete ClientHello record.
std::string MakeClientHello();

// "GET <path> HTTP/1.1" with a Host header.
std::string TlsGetRequest(const std::string& path);

}  // namespace morlak::test_support
