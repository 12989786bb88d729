// A private key and a self-signed certificate for this machine, so that a user gets HTTPS
// without knowing OpenSSL.
#pragma once

#include <string>

#include "stores/server_settings.h"

namespace morlak {

// The files written into the program folder.
constexpr char kSelfSignedKeyFile[] = "httpskey.pem";
constexpr char kSelfSignedCertFile[] = "httpscert.pem";

struct CertificateResult {
  bool ok = false;
  std::string message;      // what was done, or why nothing was
  bool filesExist = false;  // refused because the files exist and overwrite was not given
};

// Writes a fresh RSA-2048 key (encrypted with the certpassword setting, plain when that is
// empty) and a certificate signed by it for the machine's host name, "localhost" and
// 127.0.0.1 into `folder`, points certcert, certkey and certroot at them and saves the
// settings. When either file exists already nothing is written unless `overwrite` is
// given. A settings dialog that holds edited copies of the three file names should reload
// them from the store afterwards.
CertificateResult MakeSelfSignedCertificate(ServerSettings& settings, const std::string& folder,
                                            bool overwrite);

}  // namespace morlak
