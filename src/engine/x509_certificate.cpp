#include "engine/x509_certificate.h"

#include <ctime>

namespace morlak {

namespace {

constexpr int kSubjectLineLimit = 2048;

}  // namespace

TDateTime Asn1TimeToLocalDateTime(const ASN1_TIME* time) {
  std::tm tm{};
  // OpenSSL reads both forms; a two-digit year below 50 is 20xx, as the standard says.
  if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return 0;
  const std::time_t utc = timegm(&tm);
  return utc == static_cast<std::time_t>(-1) ? 0 : UnixToLocalDateTime(utc);
}

std::string TIdX509::SubjectLine() const {
  if (!certificate_) return std::string();
  char line[kSubjectLineLimit + 1];
  if (!X509_NAME_oneline(X509_get_subject_name(certificate_), line, sizeof line))
    return std::string();
  return line;
}

TDateTime TIdX509::ValidFrom() const {
  return certificate_ ? Asn1TimeToLocalDateTime(X509_get0_notBefore(certificate_)) : 0;
}

TDateTime TIdX509::ValidUntil() const {
  return certificate_ ? Asn1TimeToLocalDateTime(X509_get0_notAfter(certificate_)) : 0;
}

}  // namespace morlak
