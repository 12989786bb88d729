// The HTTPS listener of the core: started from the certificate settings, serving pages
// with their session cookie, failing alone on a wrong pass phrase, and judging client
// certificates by the subject and validity settings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/core_fixture.h"
#include "support/tls_test_support.h"

namespace morlak::test_support {
namespace {

// Settings lines for a core whose HTTPS listener uses a fresh certificate with pass
// phrase "secret", and a CA file listing the self-signed client certificate `client`.
std::vector<std::string> HttpsSettings(TempFolder& files, const TestCertificate& client,
                                       std::vector<std::string> more) {
  const TestCertificate server("localhost");
  more.push_back("certhttps=1");
  more.push_back("httpsport=0");
  more.push_back("certcert=" + files.Write("cert.pem", server.CertPem()));
  more.push_back("certkey=" + files.Write("key.pem", server.KeyPem("secret")));
  more.push_back("certroot=" + files.Write("root.pem", client.CertPem()));
  return more;
}

// Any HTTP answer: the request got past the handshake.
bool Served(const std::string& answer) {
  return answer.rfind("HTTP/1.1 ", 0) == 0;
}

TEST(HttpsListener, ServesAPageWithItsSessionCookieOnTheRealPort) {
  TempFolder files;
  const TestCertificate client("alice");
  CoreFixture f(HttpsSettings(files, client, {"certpassword=secret"}));
  f.data.Write("http/public/index.html", "hello");
  f.Start();
  ASSERT_TRUE(f.core->IdHTTPServer2.Active());
  const int port = f.core->IdHTTPServer2.BoundPort();
  EXPECT_TRUE(f.front.Has("- HTTPS server started (port=" + std::to_string(port) + ")"));

  TlsClient tls(port);
  const std::string answer = tls.Fetch(TlsGetRequest("/index.html"));
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("; path=/; secure; HttpOnly; SameSite=Lax\r\n"), std::string::npos);
  EXPECT_NE(answer.find(" (hsb"), std::string::npos);
  EXPECT_NE(answer.find("\r\n\r\nhello"), std::string::npos);
}

TEST(HttpsListener, WrongPassPhraseStopsOnlyTheHttpsListener) {
  TempFolder files;
  const TestCertificate client("alice");
  CoreFixture f(HttpsSettings(files, client, {"certpassword=wrong"}));
  f.Start();
  EXPECT_TRUE(f.front.Has("- Failed to start HTTPS server"));
  EXPECT_TRUE(f.front.Has("- Could not load key, check password."));
  EXPECT_FALSE(f.core->IdHTTPServer2.Active());
  EXPECT_TRUE(f.core->IdHTTPServer1.Active());
  EXPECT_TRUE(f.front.HasPart("- HTTP server started (port="));

  // The context is built at every start, so the mended setting takes effect at once.
  SettingsValues values = f.core->Settings().Get();
  values.certPassword = "secret";
  f.core->Settings().Set(values);
  f.core->StartServers();
  EXPECT_TRUE(f.core->IdHTTPServer2.Active());
}

TEST(HttpsListener, NamedPipeAsCertificateKeyOrRootFailsOnlyTheHttpsStart) {
  for (const std::string key : {"certcert=", "certkey=", "certroot="}) {
    TempFolder files;
    std::vector<std::string> settings = HttpsSettings(files, TestCertificate("alice"), {});
    for (std::string& setting : settings)
      if (setting.rfind(key, 0) == 0) setting = key + files.File("pipe");
    ASSERT_EQ(::mkfifo(files.File("pipe").c_str(), 0644), 0);
    CoreFixture f(settings);
    f.Start();
    EXPECT_TRUE(f.front.HasPart("- Could not load ") && f.core->IdHTTPServer1.Active()) << key;
    EXPECT_FALSE(f.core->IdHTTPServer2.Active()) << key;
  }
}

TEST(HttpsListener, ClientCertificatesAreJudgedBySubjectAndValidity) {
  TempFolder files;
  const TestCertificate alice("alice");
  struct Case {
    const char* what;
    const char* subject;
    const TestCertificate* certificate;
    bool served;
  } const cases[] = {
      {"listed certificate with the subject", "CN=alice", &alice, true},
      {"other subject", "CN=bob", &alice, false},
      {"empty subject refuses every peer", "", &alice, false},
      {"no certificate", "CN=alice", nullptr, false},
  };
  for (const Case& c : cases) {
    CoreFixture f(HttpsSettings(files, alice,
                                {"certpassword=secret", "certcheckpeer=1", "certcheckvalid=1",
                                 std::string("certsubject=") + c.subject}));
    f.Start();
    ASSERT_TRUE(f.core->IdHTTPServer2.Active()) << c.what;
    TlsClient tls(f.core->IdHTTPServer2.BoundPort(), {.certificate = c.certificate});
    EXPECT_EQ(Served(tls.Fetch(TlsGetRequest("/"))), c.served) << c.what;
  }
}

TEST(HttpsListener, ValidityCheckAloneRefusesClientsWithoutOrOutsideTheirCertificate) {
  // OpenSSL would refuse an expired certificate itself; the core's own window test is
  // seen with a clock set past the end.
  TempFolder files;
  const TestCertificate alice("alice");
  CoreFixture f(
      HttpsSettings(files, alice, {"certpassword=secret", "certcheckpeer=0", "certcheckvalid=1"}));
  f.Start();
  const int port = f.core->IdHTTPServer2.BoundPort();
  EXPECT_FALSE(Served(TlsClient(port).Fetch(TlsGetRequest("/")))) << "without a certificate";
  EXPECT_TRUE(Served(TlsClient(port, {.certificate = &alice}).Fetch(TlsGetRequest("/"))));
  SetFixedNow(Now() + 2);  // two days on; the certificate holds for one
  EXPECT_FALSE(Served(TlsClient(port, {.certificate = &alice}).Fetch(TlsGetRequest("/"))));
  SetFixedNow(std::nullopt);
}

}  // namespace
}  // namespace morlak::test_support
