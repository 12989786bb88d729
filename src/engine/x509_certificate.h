// A certificate of a TLS peer as the verify handler sees it: its subject as one line and
// its validity window in local time. TIdX509 wraps a certificate it does not own.
#pragma once

#include <openssl/x509.h>

#include <string>

#include "platform/datetime.h"

namespace morlak {

class TIdX509 {
 public:
  explicit TIdX509(X509* certificate) : certificate_(certificate) {}

  // The subject name as one line ("/C=../CN=..."), at most 2048 characters.
  std::string SubjectLine() const;
  // Local date-times; 0 without a certificate or with an unreadable time.
  TDateTime ValidFrom() const;
  TDateTime ValidUntil() const;

 private:
  X509* certificate_;
};

// A certificate time (UTCTime or GeneralizedTime, read as UTC) as a local date-time; 0 when
// it cannot be read.
TDateTime Asn1TimeToLocalDateTime(const ASN1_TIME* time);

}  // namespace morlak
