// Files sent as response bodies: byte-exact through the kernel's file send, through the
// handler's own SendHeader/SendBody, to a real client (curl), and past 2 GB.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "integration/test_server.h"
#include "platform/files.h"
#include "platform/stream.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

// Unique per test, since ctest runs tests side by side.
std::string TempPath(const std::string& name) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return ::testing::TempDir() + "morlak_" + test->test_suite_name() + "_" + test->name() + "_" +
         name;
}

std::string MakeFile(const std::string& name, size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string content(size, '\0');
  for (char& c : content) c = static_cast<char>(random());
  const std::string path = TempPath(name);
  TFileStream out(path, TFileStream::Mode::kCreate);
  out.Write(content.data(), content.size());
  return content;
}

std::string Body(const std::string& answer) {
  const size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

class FileTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    content_ = MakeFile("transfer.bin", (3 << 20) + 17);
    path_ = TempPath("transfer.bin");
    t_.server.OnCommandGet = [this](TIdPeerThread&, TIdHTTPRequestInfo& rq,
                                    TIdHTTPResponseInfo& rs) {
      rs.ContentType = "application/octet-stream";
      rs.BodyStream = std::make_unique<TFileStream>(path_, TFileStream::Mode::kRead);
      if (rq.DocumentPath == "/streamed") {
        rs.SendHeader();
        rs.BodyStream->Seek(0);
        rs.SendBody();
      }
    };
    port_ = t_.Start();
  }
  void TearDown() override { std::remove(path_.c_str()); }

  std::string content_, path_;
  int port_ = 0;
  TestServer t_;  // last: stops before the members its handler uses
};

TEST_F(FileTransfer, EngineSendsTheBodyStreamByteExact) {
  const std::string answer = Exchange(port_, "GET /engine HTTP/1.1\r\n\r\n");
  EXPECT_NE(answer.find("Content-Length: " + std::to_string(content_.size()) + "\r\n"),
            std::string::npos);
  EXPECT_TRUE(Body(answer) == content_);
}

TEST_F(FileTransfer, HandlerSendsHeaderThenBodyByteExact) {
  const std::string answer = Exchange(port_, "GET /streamed HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_TRUE(Body(answer) == content_);
}

TEST_F(FileTransfer, CurlFetchesThePage) {
  const std::string out = TempPath("curl.out");
  const std::string command = "curl -s -f --max-time 20 -o '" + out +
                              "' http://127.0.0.1:" + std::to_string(port_) + "/curl";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const auto fetched = ReadWholeFile(out);
  std::remove(out.c_str());
  ASSERT_TRUE(fetched.has_value());
  EXPECT_TRUE(*fetched == content_);
}

// The file changes between the size taken at opening and the send: a range goes out as
// promised, or the connection ends short of it, never with other bytes.
TEST_F(FileTransfer, ARangeOfAChangingFileIsSentAsPromisedOrCutShort) {
  t_.server.OnCommandGet = [this](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    auto file = std::make_unique<TFileStream>(path_, TFileStream::Mode::kRead);
    std::filesystem::resize_file(path_, rq.DocumentPath == "/grown" ? (4 << 20) : 60000);
    rs.BodyStream = std::move(file);
    rs.SetBodyRange(50000, 20000);
  };
  const std::string grown = Exchange(port_, "GET /grown HTTP/1.1\r\n\r\n");
  EXPECT_NE(grown.find("Content-Length: 20000\r\n"), std::string::npos);
  EXPECT_TRUE(Body(grown) == content_.substr(50000, 20000));
  const std::string shrunk = Exchange(port_, "GET /shrunk HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(Body(shrunk) == content_.substr(50000, 10000));
}

TEST(LargeFileTransfer, FilesPastTwoGigabytesKeepTheirLength) {
  const std::string path = TempPath("sparse.bin");
  const int64_t size = (int64_t{1} << 31) + 11;
  {
    TFileStream out(path, TFileStream::Mode::kCreate);
    out.Seek(size - 5);
    out.Write("tail!", 5);  // everything before stays a hole
  }
  TestServer t;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    rs.BodyStream = std::make_unique<TFileStream>(path, TFileStream::Mode::kRead);
  };
  const int port = t.Start();
  LoopbackClient client(port);
  client.Send("GET / HTTP/1.1\r\n\r\n");
  std::string head, last;
  int64_t total = 0;
  for (std::string piece; !(piece = client.ReadSome(20000)).empty();) {
    if (head.size() < 512) head += piece.substr(0, 512);
    total += static_cast<int64_t>(piece.size());
    last = (last + piece).substr(std::max<size_t>(last.size() + piece.size(), 5) - 5);
  }
  std::remove(path.c_str());
  EXPECT_NE(head.find("Content-Length: 2147483659\r\n"), std::string::npos) << head;
  const int64_t headerSize = static_cast<int64_t>(head.find("\r\n\r\n")) + 4;
  EXPECT_EQ(total - headerSize, size);
  EXPECT_EQ(last, "tail!");
}

}  // namespace
}  // namespace morlak::test_support
