#include "engine/tls_context.h"

#include <openssl/err.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/tls_pem_files.h"

namespace morlak {

const char kDefaultCipherList[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

namespace {

// The session-id context: the integer 1 as four little-endian bytes. A server that asks
// for client certificates cannot resume sessions without one.
constexpr unsigned char kSessionIdContext[4] = {1, 0, 0, 0};

// Each callback runs under a lock of its own, so no handler is entered twice at once.
std::mutex g_passwordLock;
std::mutex g_statusLock;
std::mutex g_verifyLock;

void LoadLibrary() {
  // OpenSSL 3 does its own locking; initialising it is all that is left to do.
  static const bool loaded = OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS, nullptr) == 1;
  if (!loaded) throw EIdException("Could not load SSL library.");
}

const SSL_METHOD* ChooseMethod(TIdSSLVersion method, TIdSSLMode mode) {
  switch (method) {
    case TIdSSLVersion::sslvSSLv2:
    case TIdSSLVersion::sslvSSLv23:
    case TIdSSLVersion::sslvSSLv3:
    case TIdSSLVersion::sslvTLSv1:
      break;
    default:
      throw EIdException("Error geting SSL method.");
  }
  switch (mode) {
    case TIdSSLMode::sslmClient:
      return TLS_client_method();
    case TIdSSLMode::sslmServer:
      return TLS_server_method();
    case TIdSSLMode::sslmBoth:
      return TLS_method();
    default:
      throw EIdException("Mode has not been set.");
  }
}

}  // namespace

int CopyPassword(const std::string& password, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  const size_t n = std::min(password.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, password.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

TIdSSLContext::TIdSSLContext(const TIdSSLOptions& options, TIdSSLEvents events, bool server)
    : options_(options), events_(std::move(events)) {
  try {
    Build(server);
  } catch (...) {
    if (context_) SSL_CTX_free(context_);
    context_ = nullptr;
    // Errors left in the queue would confuse the next call of this thread.
    ERR_clear_error();
    throw;
  }
}

TIdSSLContext::~TIdSSLContext() {
  if (context_) SSL_CTX_free(context_);
}

void TIdSSLContext::Build(bool server) {
  LoadLibrary();
  if (options_.Mode == TIdSSLMode::sslmUnassigned)
    options_.Mode = server ? TIdSSLMode::sslmServer : TIdSSLMode::sslmClient;
  context_ = SSL_CTX_new(ChooseMethod(options_.Method, options_.Mode));
  if (!context_) throw EIdException("Error creating SSL context.");
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  // Clients that hang up without a close_notify are common and harmless for HTTP, whose
  // answers carry their own length or end with the connection.
  SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION |
                                    SSL_OP_CIPHER_SERVER_PREFERENCE);
  // One receive per burst of records instead of one per record header and body.
  SSL_CTX_set_read_ahead(context_, 1);
  // A client uses one ticket per new connection, and every connection brings a fresh one;
  // OpenSSL's default of two costs a second ticket's encryption per handshake. (The ticket
  // leaves right after the handshake, which also acknowledges the client's last flight:
  // a client whose request waits for that acknowledgement is not held up.)
  SSL_CTX_set_num_tickets(context_, 1);
  SSL_CTX_set_app_data(context_, this);

  SSL_CTX_set_default_passwd_cb(context_, PasswordCallback);
  SSL_CTX_set_default_passwd_cb_userdata(context_, this);
  SSL_CTX_set_default_verify_paths(context_);
  if (!options_.RootCertFile.empty() && !LoadRootFile(context_, options_.RootCertFile))
    throw EIdException("Could not load root certificate.");
  if (!options_.CertFile.empty() && !UseCertificateChainFile(context_, options_.CertFile))
    throw EIdException("Could not load certificate.");
  if (!options_.KeyFile.empty() &&
      (!UsePrivateKeyFile(context_, options_.KeyFile) || SSL_CTX_check_private_key(context_) != 1))
    throw EIdException("Could not load key, check password.");
  if (events_.OnStatusInfo) SSL_CTX_set_info_callback(context_, InfoCallback);
  const char* ciphers =
      options_.CipherList.empty() ? kDefaultCipherList : options_.CipherList.c_str();
  if (SSL_CTX_set_cipher_list(context_, ciphers) != 1) throw EIdException("SetCipher failed.");
  if (options_.VerifyMode != 0) {
    SSL_CTX_set_verify(context_, options_.VerifyMode & 7,
                       events_.OnVerifyPeer ? VerifyCallback : nullptr);
    SSL_CTX_set_verify_depth(context_, options_.VerifyDepth);
  }
  if (options_.Mode != TIdSSLMode::sslmClient) {
    SSL_CTX_set_session_id_context(context_, kSessionIdContext, sizeof kSessionIdContext);
    SSL_CTX_set_session_cache_mode(context_, SSL_SESS_CACHE_SERVER);
  }
}

void TIdSSLContext::StatusInfo(const std::string& text) const {
  if (!events_.OnStatusInfo) return;
  std::lock_guard lock(g_statusLock);
  try {
    events_.OnStatusInfo(text);
  } catch (...) {
    // A status text is information only.
  }
}

int TIdSSLContext::PasswordCallback(char* buffer, int size, int /*rwflag*/, void* userdata) {
  const auto* self = static_cast<const TIdSSLContext*>(userdata);
  std::string password;
  std::lock_guard lock(g_passwordLock);
  try {
    if (self && self->events_.OnGetPassword) self->events_.OnGetPassword(password);
  } catch (...) {
    password.clear();
  }
  return CopyPassword(password, buffer, size);
}

void TIdSSLContext::InfoCallback(const SSL* ssl, int /*where*/, int /*ret*/) {
  const auto* self = static_cast<const TIdSSLContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (!self) return;
  self->StatusInfo(std::string("SSL status: \"") + SSL_state_string_long(ssl) + "\"");
}

int TIdSSLContext::VerifyCallback(int preverifyOk, X509_STORE_CTX* store) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  if (!ssl || !SSL_get_app_data(ssl)) return preverifyOk;
  const auto* self = static_cast<const TIdSSLContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (!self || !self->events_.OnVerifyPeer) return preverifyOk;
  std::lock_guard lock(g_verifyLock);
  try {
    TIdX509 certificate(X509_STORE_CTX_get_current_cert(store));
    const bool accepted = self->events_.OnVerifyPeer(certificate);
    return preverifyOk == 1 &&
                   X509_STORE_CTX_get_error_depth(store) <= self->options_.VerifyDepth && accepted
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace morlak
