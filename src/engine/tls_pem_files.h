// Certificate, key and root files for a TLS context, read as regular files only: a named
// pipe or device in their place is refused at once instead of blocking the start.
#pragma once

#include <openssl/ssl.h>

#include <string>

namespace morlak {

// Each returns false when the file is no readable regular file or holds nothing usable.

// The server certificate, then the chain certificates after it.
bool UseCertificateChainFile(SSL_CTX* context, const std::string& path);
// The private key, opened with the context's pass-phrase callback.
bool UsePrivateKeyFile(SSL_CTX* context, const std::string& path);
// Certificates (and revocation lists) to verify clients with; their subjects become the
// list of issuers offered to clients.
bool LoadRootFile(SSL_CTX* context, const std::string& path);

}  // namespace morlak
