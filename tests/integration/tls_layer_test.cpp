// The TLS transport on a real listener: pages over TLS, protocol floor, resumption, the
// handshake bound, handshakes that wait without a thread, bad input on the TLS port and
// client-certificate checks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "engine/tls_io_handler.h"
#include "integration/test_server.h"
#include "platform/random.h"
#include "support/process_state.h"
#include "support/socket_client.h"
#include "support/temp_folder.h"
#include "support/tls_test_support.h"

namespace morlak::test_support {
namespace {

std::string RandomBytes(size_t count) {
  std::string bytes(count, '\0');
  SecureRandomBytes(bytes.data(), count);
  return bytes;
}

class TlsLayer : public ::testing::Test {
 protected:
  TlsLayer() : ca_("Test CA", nullptr, true), issued_("issued", &ca_), alice_("alice") {
    const TestCertificate server("localhost");
    tls_->SSLOptions.CertFile = dir_.Write("cert.pem", server.CertPem());
    tls_->SSLOptions.KeyFile = dir_.Write("key.pem", server.KeyPem("secret"));
    tls_->SSLOptions.RootCertFile = dir_.Write("root.pem", ca_.CertPem() + alice_.CertPem());
    tls_->OnGetPassword = [](std::string& p) { p = "secret"; };
    tls_->OnStatusInfo = [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      status_.push_back(text);
    };
    t_.server.IOHandler = tls_;
    t_.server.OnCommandGet = [this](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
      ++handled_;
      rs.BodyText = "ok";
    };
  }

  int Restart() {
    if (t_.server.Active()) t_.server.SetActive(false);
    return t_.Start();
  }
  static bool Served(const std::string& answer) {
    return answer.find("\r\n\r\nok") != std::string::npos;
  }

  TempFolder dir_;
  TestCertificate ca_, issued_, alice_;
  std::mutex mutex_;
  std::vector<std::string> status_;
  std::atomic<int> handled_{0};
  std::shared_ptr<TIdServerIOHandlerSSL> tls_ = std::make_shared<TIdServerIOHandlerSSL>();
  TestServer t_;
};

TEST_F(TlsLayer, ServesAPageAndReportsTheCipher) {
  const int port = Restart();
  TlsClient client(port);
  EXPECT_TRUE(Served(client.Fetch(TlsGetRequest("/"))));
  std::lock_guard lock(mutex_);
  int ciphers = 0;
  for (const auto& text : status_) ciphers += text.rfind("Cipher: name = ", 0) == 0;
  EXPECT_EQ(ciphers, 1);
}

TEST_F(TlsLayer, AnswersOfEverySizeArriveWhole) {
  // Small answers leave header and body in one record; larger ones do not fit one.
  t_.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    rs.BodyText = std::string(std::stoul(rq.DocumentPath.substr(1)), 'x');
  };
  const int port = Restart();
  for (size_t size : {0ul, 2ul, 16000ul, 16384ul, 70000ul}) {
    TlsClient client(port);
    std::string path(1, '/');
    path += std::to_string(size);
    const std::string answer = client.Fetch(TlsGetRequest(path));
    const size_t end = answer.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos) << size;
    EXPECT_EQ(answer.substr(end + 4), std::string(size, 'x')) << size;
  }
}

TEST_F(TlsLayer, BothMethodsRefuseProtocolsBelowTls12) {
  struct Case {
    int maxVersion;
    bool served;
  } const cases[] = {
      {TLS1_VERSION, false}, {TLS1_1_VERSION, false}, {TLS1_2_VERSION, true}, {0, true}};
  for (TIdSSLVersion method : {TIdSSLVersion::sslvSSLv23, TIdSSLVersion::sslvTLSv1}) {
    tls_->SSLOptions.Method = method;
    const int port = Restart();
    for (const Case& c : cases) {
      TlsClient client(port, {.maxVersion = c.maxVersion});
      EXPECT_EQ(Served(client.Fetch(TlsGetRequest("/"))), c.served)
          << "method " << static_cast<int>(method) << ", version " << c.maxVersion;
    }
  }
}

TEST_F(TlsLayer, DefaultCipherListOffersOnlyForwardSecretAeadSuites) {
  const int port = Restart();
  struct Case {
    const char* offered;
    bool served;
  } const cases[] = {
      {"ECDHE-ECDSA-AES128-GCM-SHA256", true}, {"ECDHE-ECDSA-CHACHA20-POLY1305", true},
      {"ECDHE-ECDSA-AES128-SHA", false},                                     // CBC
      {"ECDHE-ECDSA-NULL-SHA", false},         {"AECDH-AES128-SHA", false},  // anonymous
  };
  SSL_CTX* probe = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_security_level(probe, 0);
  for (const Case& c : cases) {
    // The client must really offer the suite for a refusal to mean anything.
    ASSERT_EQ(SSL_CTX_set_cipher_list(probe, c.offered), 1) << c.offered;
    TlsClient client(port, {.cipherList = c.offered});
    EXPECT_EQ(Served(client.Fetch(TlsGetRequest("/"))), c.served) << c.offered;
  }
  SSL_CTX_free(probe);
}

TEST_F(TlsLayer, SecondConnectionResumesTheSession) {
  // The client's last flight and its request arrive apart or together; either way the
  // session ticket reaches the client and the answer ends with close_notify.
  const int port = Restart();
  for (int version : {0, TLS1_2_VERSION}) {
    for (bool joined : {false, true}) {
      TlsClient first(port, {.maxVersion = version, .finishWithRequest = joined});
      ASSERT_TRUE(Served(first.Fetch(TlsGetRequest("/"))));
      EXPECT_TRUE(first.CloseNotified());
      SSL_SESSION* session = first.TakeSession();
      TlsClient second(port, {.maxVersion = version, .resume = session});
      EXPECT_TRUE(Served(second.Fetch(TlsGetRequest("/"))));
      EXPECT_TRUE(second.Resumed()) << "version " << version << ", joined " << joined;
      EXPECT_TRUE(second.CloseNotified());
      SSL_SESSION_free(session);
    }
  }
}

TEST_F(TlsLayer, BadInputOnTheTlsPortIsClosedWithoutAnAnswer) {
  const int port = Restart();
  const std::string hello = MakeClientHello();
  ASSERT_GT(hello.size(), 100u);
  const std::string cases[] = {
      "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n",
      RandomBytes(700),
      hello.substr(0, hello.size() / 2),
  };
  for (const std::string& input : cases) {
    LoopbackClient client(port);
    client.Send(input);
    client.ShutdownSend();
    const std::string answer = client.ReadAll();
    EXPECT_FALSE(client.timedOut);
    EXPECT_EQ(answer.find("HTTP/"), std::string::npos);
  }
  EXPECT_EQ(handled_.load(), 0);
  TlsClient client(port);
  EXPECT_TRUE(Served(client.Fetch(TlsGetRequest("/"))));
}

TEST_F(TlsLayer, HandshakeIsBoundedInTimeButASlowHelloStillCompletes) {
  tls_->HandshakeTimeout = 300;
  const int port = Restart();
  const std::string hello = MakeClientHello();
  LoopbackClient stalled(port);
  stalled.Send(hello.substr(0, hello.size() / 2));
  EXPECT_TRUE(stalled.ClosedByServer(5000));
  LoopbackClient silent(port);
  EXPECT_TRUE(silent.ClosedByServer(5000));
  EXPECT_TRUE(t_.WaitIdle());

  tls_->HandshakeTimeout = 5000;
  const int again = Restart();
  TlsClient slow(again, {.byteByByte = true});
  EXPECT_TRUE(Served(slow.Fetch(TlsGetRequest("/"))));
}

TEST_F(TlsLayer, HandshakesWaitingForTheClientHoldNoThreads) {
  constexpr size_t kStalled = 64;
  tls_->HandshakeTimeout = 60000;  // outlasts the wait for spare threads to leave
  const int port = Restart();
  TlsClient first(port);
  ASSERT_TRUE(Served(first.Fetch(TlsGetRequest("/"))));
  const size_t before = ThreadCount();
  const std::string hello = MakeClientHello();
  std::vector<std::unique_ptr<LoopbackClient>> stalled;
  for (size_t i = 0; i < kStalled; ++i) {
    stalled.push_back(std::make_unique<LoopbackClient>(port));
    stalled.back()->Send(hello);
    // The server's flight: its handshake now waits for an answer that never comes.
    ASSERT_FALSE(stalled.back()->ReadSome(5000).empty());
  }
  // Spare threads of the burst leave once idle; a thread held by a handshake would stay.
  const size_t bound = before + 2 * std::thread::hardware_concurrency() + 16;
  const auto settled = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ThreadCount() >= bound && std::chrono::steady_clock::now() < settled)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_LT(ThreadCount(), bound);
  TlsClient next(port);
  EXPECT_TRUE(Served(next.Fetch(TlsGetRequest("/"))));
}

TEST_F(TlsLayer, ARequestRecordCutShortIsDroppedAtTheHeaderBound) {
  t_.server.HeaderTimeout = 500;
  const int port = Restart();
  TlsClient client(port);
  ASSERT_TRUE(client.SendCutShort(TlsGetRequest("/"), 5));
  EXPECT_TRUE(client.ClosedByServer(5000));
  EXPECT_EQ(handled_.load(), 0);
  EXPECT_TRUE(t_.WaitIdle());
}

TEST_F(TlsLayer, AClientThatNeverReadsIsDroppedAtTheSendBound) {
  t_.server.SendTimeout = 1000;
  t_.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    rs.BodyText.assign(32 << 20, 'x');
  };
  const int port = Restart();
  TlsClient client(port);
  ASSERT_TRUE(client.SendCutShort(TlsGetRequest("/"), 0));
  EXPECT_TRUE(t_.WaitIdle(15000));
}

TEST_F(TlsLayer, ClientCertificatesAreCheckedToTheVerifyDepth) {
  tls_->SSLOptions.VerifyMode = sslvrfPeer | sslvrfFailIfNoPeerCert;
  tls_->OnVerifyPeer = [](TIdX509&) { return true; };
  struct Case {
    const char* what;
    const TestCertificate* certificate;
    int depth;
    bool served;
  } const cases[] = {
      {"no certificate", nullptr, 0, false},
      {"self-signed, listed in the CA file", &alice_, 0, true},
      {"issued by a listed CA, depth 0", &issued_, 0, false},
      {"issued by a listed CA, depth 1", &issued_, 1, true},
  };
  for (const Case& c : cases) {
    tls_->SSLOptions.VerifyDepth = c.depth;
    const int port = Restart();
    TlsClient client(port, {.certificate = c.certificate});
    EXPECT_EQ(Served(client.Fetch(TlsGetRequest("/"))), c.served) << c.what;
  }
}

}  // namespace
}  // namespace morlak::test_support
