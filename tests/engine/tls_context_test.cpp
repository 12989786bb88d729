// Building TLS contexts from files: every unusable file or option fails with its own
// message; the pass phrase never overruns OpenSSL's buffer; certificate times are UTC.
#include "engine/tls_context.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/temp_folder.h"
#include "support/tls_test_support.h"
#include "support/unreadable_file.h"

namespace morlak::test_support {
namespace {

TIdSSLEvents WithPassword(const std::string& password) {
  TIdSSLEvents events;
  events.OnGetPassword = [password](std::string& p) { p = password; };
  return events;
}

TEST(TlsContext, EachUnusableFileOrOptionFailsWithItsMessage) {
  TempFolder dir;
  const TestCertificate server("localhost"), other("other");
  const std::string longPassword(1500, 'x');
  TIdSSLOptions good;
  good.CertFile = dir.Write("cert.pem", server.CertPem());
  good.KeyFile = dir.Write("key.pem", server.KeyPem("secret"));
  good.RootCertFile = dir.Write("root.pem", other.CertPem());
  const std::string empty = dir.Write("empty.pem", "");
  const std::string garbage = dir.Write(
      "garbage.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
  const std::string missing = dir.File("missing.pem");
  const std::string unreadable = dir.File("unreadable.pem");
  MakeUnreadableFile(unreadable);
  const std::string otherKey = dir.Write("other.pem", other.KeyPem("secret"));
  const std::string longKey = dir.Write("long.pem", server.KeyPem(longPassword));

  EXPECT_NO_THROW(TIdSSLContext(good, WithPassword("secret"), true));
  TIdSSLOptions ownList = good;
  ownList.CipherList = "ECDHE-ECDSA-AES128-GCM-SHA256";
  EXPECT_NO_THROW(TIdSSLContext(ownList, WithPassword("secret"), true));

  struct Case {
    const char* what;
    std::function<void(TIdSSLOptions&)> change;
    std::string password;
    const char* message;
  };
  const char* kKey = "Could not load key, check password.";
  const Case cases[] = {
      {"missing certificate", [&](auto& o) { o.CertFile = missing; }, "secret",
       "Could not load certificate."},
      {"empty certificate", [&](auto& o) { o.CertFile = empty; }, "secret",
       "Could not load certificate."},
      {"garbage certificate", [&](auto& o) { o.CertFile = garbage; }, "secret",
       "Could not load certificate."},
      {"unreadable certificate", [&](auto& o) { o.CertFile = unreadable; }, "secret",
       "Could not load certificate."},
      {"missing CA file", [&](auto& o) { o.RootCertFile = missing; }, "secret",
       "Could not load root certificate."},
      {"empty CA file", [&](auto& o) { o.RootCertFile = empty; }, "secret",
       "Could not load root certificate."},
      {"missing key", [&](auto& o) { o.KeyFile = missing; }, "secret", kKey},
      {"empty key", [&](auto& o) { o.KeyFile = empty; }, "secret", kKey},
      {"unreadable key", [&](auto& o) { o.KeyFile = unreadable; }, "secret", kKey},
      {"wrong pass phrase", [](auto&) {}, "wrong", kKey},
      {"key of another certificate", [&](auto& o) { o.KeyFile = otherKey; }, "secret", kKey},
      // The callback cuts the phrase to OpenSSL's buffer instead of writing past it.
      {"pass phrase longer than the buffer", [&](auto& o) { o.KeyFile = longKey; }, longPassword,
       kKey},
      {"rejected cipher list", [](auto& o) { o.CipherList = "NO-SUCH-CIPHER"; }, "secret",
       "SetCipher failed."},
      {"method out of range", [](auto& o) { o.Method = static_cast<TIdSSLVersion>(9); }, "secret",
       "Error geting SSL method."},
  };
  for (const Case& c : cases) {
    TIdSSLOptions options = good;
    c.change(options);
    try {
      TIdSSLContext context(options, WithPassword(c.password), true);
      ADD_FAILURE() << c.what << ": built";
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), c.message) << c.what;
    }
  }
}

TEST(TlsContext, PassPhraseIsCutToTheBufferWithItsTerminatingZero) {
  struct Case {
    int size;
    int copied;
    const char* held;
  } const cases[] = {{10, 6, "secret"}, {6, 5, "secre"}, {1, 0, ""}};
  for (const Case& c : cases) {
    char buffer[12];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(CopyPassword("secret", buffer, c.size), c.copied) << c.size;
    EXPECT_STREQ(buffer, c.held) << c.size;
    EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer of " << c.size;
  }
  char untouched = '#';
  EXPECT_EQ(CopyPassword("secret", &untouched, 0), 0);
  EXPECT_EQ(untouched, '#');
}

TEST(TlsContext, CertificateTimesAreReadAsUtcInBothForms) {
  struct Case {
    const char* text;
    std::time_t utc;
  } const cases[] = {
      {"491231235959Z", 2524607999},    // two-digit year below 50: 20xx
      {"500101000000Z", -631152000},    // 50 and above: 19xx
      {"20510615120000Z", 2570443200},  // GeneralizedTime
  };
  for (const Case& c : cases) {
    ASN1_TIME* time = ASN1_TIME_new();
    ASSERT_EQ(ASN1_TIME_set_string(time, c.text), 1) << c.text;
    EXPECT_DOUBLE_EQ(Asn1TimeToLocalDateTime(time), UnixToLocalDateTime(c.utc)) << c.text;
    ASN1_TIME_free(time);
  }
  EXPECT_EQ(TIdX509(nullptr).ValidUntil(), 0);
}

}  // namespace
}  // namespace morlak::test_support
