// The TLS settings of a listener and the OpenSSL context built from them: certificate,
// key and CA files, protocol family, client-certificate checks and the callbacks for the
// key's pass phrase, peer judgement and status texts.
// TIdSSLOptions holds the settings, TIdSSLContext the built context; TIdSSLEvents the
// handlers that the context calls.
#pragma once

#include <openssl/ssl.h>

#include <functional>
#include <string>

#include "engine/engine_errors.h"
#include "engine/x509_certificate.h"

namespace morlak {

// Protocol families. Every family negotiates TLS 1.2 or 1.3: the older protocols are
// broken and no longer offered by OpenSSL.
enum class TIdSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1 };
enum class TIdSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };
// Bits of TIdSSLOptions::VerifyMode; the values are OpenSSL's own verify flags.
constexpr int sslvrfPeer = 1;
constexpr int sslvrfFailIfNoPeerCert = 2;
constexpr int sslvrfClientOnce = 4;

struct TIdSSLOptions {
  std::string RootCertFile;  // trusted CA certificates, PEM
  std::string CertFile;      // own certificate (and its chain), PEM
  std::string KeyFile;       // private key, PEM, possibly encrypted
  TIdSSLVersion Method = TIdSSLVersion::sslvSSLv2;
  TIdSSLMode Mode = TIdSSLMode::sslmUnassigned;
  int VerifyMode = 0;  // sslvrf* bits
  int VerifyDepth = 0;
  std::string VerifyDirs;  // carried, never given to the library
  // Empty: forward-secret AEAD suites only.
  std::string CipherList;
};

using TPasswordEvent = std::function<void(std::string& password)>;
using TVerifyPeerEvent = std::function<bool(TIdX509& certificate)>;
using TCallbackEvent = std::function<void(const std::string& msg)>;

struct TIdSSLEvents {
  TPasswordEvent OnGetPassword;
  TVerifyPeerEvent OnVerifyPeer;  // unassigned: every peer passes
  TCallbackEvent OnStatusInfo;
};

// The cipher list used when CipherList is empty (TLS 1.2; TLS 1.3 suites are all AEAD
// with forward secrecy).
extern const char kDefaultCipherList[];

// Copies the pass phrase with its terminating zero into OpenSSL's buffer of `size` bytes,
// cut to fit; returns the length copied.
int CopyPassword(const std::string& password, char* buffer, int size);

class TIdSSLContext {
 public:
  // Builds the context; fails with the message of the step that failed ("Could not load
  // key, check password." ...). `server` turns an unassigned Mode into sslmServer.
  TIdSSLContext(const TIdSSLOptions& options, TIdSSLEvents events, bool server);
  ~TIdSSLContext();
  TIdSSLContext(const TIdSSLContext&) = delete;
  TIdSSLContext& operator=(const TIdSSLContext&) = delete;

  SSL_CTX* Handle() const { return context_; }
  const TIdSSLOptions& Options() const { return options_; }
  bool HasStatusHandler() const { return static_cast<bool>(events_.OnStatusInfo); }
  // Hands a text to OnStatusInfo, never from two threads at once.
  void StatusInfo(const std::string& text) const;

 private:
  void Build(bool server);
  static int PasswordCallback(char* buffer, int size, int rwflag, void* userdata);
  static void InfoCallback(const SSL* ssl, int where, int ret);
  static int VerifyCallback(int preverifyOk, X509_STORE_CTX* store);

  TIdSSLOptions options_;
  TIdSSLEvents events_;
  SSL_CTX* context_ = nullptr;
};

}  // namespace morlak
