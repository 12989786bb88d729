// The update check against the real update server on loopback, told to misbehave in
// every way the client must survive.
#include "server/update_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "support/temp_folder.h"
#include "update_server/update_server.h"

namespace morlak {
namespace {

using test_support::TempFolder;

class RecordingCheckFrontEnd : public UpdateCheckFrontEnd {
 public:
  void Begin() override { lines.clear(); }
  void Progress(const std::string& text) override { lines.push_back(text); }
  void BarText(const std::string& text) override { barText = text; }
  void BarCount(int64_t r, int64_t s) override {
    received = r;
    size = s;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool ChooseTargetFile(const std::string& p, std::string& chosen) override {
    proposed = p;
    chosen = target;
    return !target.empty();
  }

  std::vector<std::string> lines, messages;
  std::string barText, proposed, target;
  std::atomic<int64_t> received = -1;  // watched by a cancelling thread
  int64_t size = -1;
};

const std::string kInstaller = [] {
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}();

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    published.Write("message.txt", "Morlak 2 is out\r\n\r\nSee the site\r\n");
    published.Write("build.txt", "11\r\n");
    published.Write(kInstallerFileName, kInstaller);
    frontEnd.target = downloads.File(kInstallerFileName);
  }

  UpdateCheck MakeCheck(int port) {
    UpdateCheckSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.buildNumber = 10;
    settings.programFileName = "morlak";
    settings.installerFolder = downloads.Path();
    settings.timeouts = {2000, 500, 1000};
    return UpdateCheck(settings, frontEnd);
  }

  // The server's options for a free loopback port and the published folder.
  UpdateServerOptions& OnLoopback(UpdateServerOptions& options) {
    options.folder = published.Path();
    options.bindIp = "127.0.0.1";
    options.port = 0;
    return options;
  }

  UpdateOutcome RunAgainst(UpdateServerOptions options) {
    UpdateServer server(OnLoopback(options));
    server.Start();
    lastPort = server.Port();
    UpdateCheck check = MakeCheck(lastPort);
    return check.Run();
  }

  // Names in the download folder: a failed download must leave no file of its own.
  std::vector<std::string> Downloads() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(downloads.Path()))
      names.push_back(entry.path().filename().string());
    return names;
  }

  TempFolder published, downloads;
  RecordingCheckFrontEnd frontEnd;
  int lastPort = 0;
};

TEST_F(UpdateCheckTest, NewerBuildIsDownloadedWithEveryProgressLine) {
  ASSERT_EQ(RunAgainst({}), UpdateOutcome::kDownloaded);
  const std::string where = "127.0.0.1:" + std::to_string(lastPort) + "..";
  EXPECT_EQ(
      frontEnd.lines,
      (std::vector<std::string>{
          "Connecting to " + where, "Connected", "Message received.", "Build info request sent",
          "Reply received", "Update available (b11).", "Re-connecting to " + where, "Connected.",
          "Get file request sent", "Reply received", "File size received", "Downloading file..",
          "File downloaded succesfully."}));
  EXPECT_EQ(frontEnd.messages, std::vector<std::string>{"Morlak 2 is out\r \rSee the site\r"});
  EXPECT_EQ(frontEnd.proposed, downloads.File(kInstallerFileName));
  EXPECT_EQ(frontEnd.barText, "Download Done.");
  EXPECT_EQ(frontEnd.received, static_cast<int64_t>(kInstaller.size()));
  EXPECT_EQ(frontEnd.size, static_cast<int64_t>(kInstaller.size()));
  EXPECT_EQ(downloads.Read(kInstallerFileName), kInstaller);
  EXPECT_EQ(Downloads().size(), 1u);
}

TEST_F(UpdateCheckTest, EveryReplyAndMisbehaviourEndsWithItsLine) {
  struct Case {
    const char* name;
    UpdateServerOptions options;
    const char* lastLine;
    const char* barText;
    const char* alsoShown = nullptr;
  };
  auto with = [](auto setter) {
    UpdateServerOptions o;
    setter(o);
    return o;
  };
  const std::vector<Case> cases = {
      {"no message, same build", with([](auto& o) { o.messageReply = "NO", o.buildLine = "10"; }),
       "No update available at the moment (b10).", "No Update Available.",
       "No message(s) available."},
      {"build HDR", with([](auto& o) { o.buildReply = "HDR"; }), "Header check failed",
       "Header Check Failed."},
      {"build ERR", with([](auto& o) { o.buildReply = "ERR"; }),
       "Error occured while checking update", ""},
      {"build FNF", with([](auto& o) { o.buildReply = "FNF"; }), "File was not found on server",
       "Revision File Missing."},
      {"build UCM", with([](auto& o) { o.buildReply = "UCM"; }),
       "Unknown command reply from server", ""},
      {"build NO", with([](auto& o) { o.buildReply = "NO"; }), "Unknown response from server", ""},
      {"build cut mid-line", with([](auto& o) { o.closeEarlyAt = "GETBUILD"; }),
       "Unknown response from server", ""},
      {"file ERR", with([](auto& o) { o.fileReply = "ERR"; }),
       "Error occured while downloading update", ""},
      {"file FNF", with([](auto& o) { o.fileReply = "FNF"; }), "Installer was not found on server",
       "Update File Missing."},
      {"file UCM", with([](auto& o) { o.fileReply = "UCM"; }),
       "Unknown command response from server", ""},
      {"file NO", with([](auto& o) { o.fileReply = "NO"; }), "Unknown response from server", ""},
      {"size ERR", with([](auto& o) { o.sizeLine = "ERR"; }), "Error retrieving file size",
       "Download Failed."},
      {"negative size", with([](auto& o) { o.sizeLine = "-5"; }), "Error retrieving file size",
       "Download Failed."},
      {"size beyond the disk", with([](auto& o) { o.sizeLine = "999999999999999999"; }),
       "Error downloading file.", "Download Failed.", "Error writing file"},
      {"short file", with([](auto& o) { o.shortBy = 1000; }), "Error downloading file.",
       "Download Failed."},
      {"too many bytes", with([](auto& o) { o.extraBytes = 10; }), "Error downloading file.",
       "Download Failed."},
      {"1 MB message line", with([](auto& o) { o.longLineAt = "GETMESSAGE"; }),
       "Failed to connect.", "Connection Error."},
      {"1 MB build line", with([](auto& o) { o.longLineAt = "GETBUILD"; }), "Failed to connect.",
       "Connection Error."},
      {"silent after accept", with([](auto& o) { o.stallAt = "CONNECT"; }), "Failed to connect.",
       "Connection Error."},
      {"silent after GETFILE", with([](auto& o) { o.stallAt = "GETFILE"; }),
       "Error downloading file.", "Download Failed."},
      {"silent mid-file", with([](auto& o) { o.stallAt = "DATA"; }), "Error downloading file.",
       "Download Failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // An older installer already in place survives every failed download untouched.
    downloads.Write(kInstallerFileName, "old");
    frontEnd.barText.clear();
    const auto start = std::chrono::steady_clock::now();
    RunAgainst(c.options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_FALSE(frontEnd.lines.empty());
    EXPECT_EQ(frontEnd.lines.back(), c.lastLine);
    EXPECT_EQ(frontEnd.barText, c.barText);
    if (c.alsoShown) {
      EXPECT_NE(std::find(frontEnd.lines.begin(), frontEnd.lines.end(), c.alsoShown),
                frontEnd.lines.end());
    }
    EXPECT_EQ(downloads.Read(kInstallerFileName), "old");
    EXPECT_EQ(Downloads().size(), 1u);
  }
}

TEST_F(UpdateCheckTest, TooManyBytesAreAllReceivedButRefused) {
  UpdateServerOptions options;
  options.extraBytes = 10;
  EXPECT_EQ(RunAgainst(options), UpdateOutcome::kFailed);
  EXPECT_EQ(frontEnd.received, frontEnd.size + 10);
  EXPECT_EQ(frontEnd.lines.back(), "Error downloading file.");
  EXPECT_FALSE(FileExists(downloads.File(kInstallerFileName)));
}

TEST_F(UpdateCheckTest, NumbersThatAreNotNumbersEndTheCheckWithAConversionError) {
  for (auto [buildLine, sizeLine, message] :
       {std::tuple{"abc", "", "'abc' is not a valid integer value"},
        std::tuple{"", "12x", "'12x' is not a valid integer value"}}) {
    UpdateServerOptions options;
    options.buildLine = buildLine;
    options.sizeLine = sizeLine;
    try {
      RunAgainst(options);
      ADD_FAILURE() << "no conversion error for " << buildLine << sizeLine;
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
  EXPECT_TRUE(Downloads().empty());
}

TEST_F(UpdateCheckTest, RefusedConnectionAndCancelledChoiceEndEarly) {
  int freePort;
  {
    UpdateServerOptions options;
    UpdateServer probe(OnLoopback(options));
    probe.Start();
    freePort = probe.Port();
  }
  UpdateCheck refused = MakeCheck(freePort);
  EXPECT_EQ(refused.Run(), UpdateOutcome::kFailed);
  EXPECT_EQ(frontEnd.lines.back(), "Failed to connect.");
  EXPECT_EQ(frontEnd.barText, "Connection Error.");

  frontEnd.target.clear();
  EXPECT_EQ(RunAgainst({}), UpdateOutcome::kInterrupted);
  EXPECT_EQ(frontEnd.lines.back(), "Updating interrupted");
  EXPECT_EQ(frontEnd.barText, "Interrupted.");
}

TEST_F(UpdateCheckTest, CancelStopsAStalledDownloadAtOnceAndLeavesNoFile) {
  UpdateServerOptions options;
  options.stallAt = "DATA";
  UpdateServer server(OnLoopback(options));
  server.Start();
  UpdateCheckSettings settings;
  settings.host = "127.0.0.1";
  settings.port = server.Port();
  settings.installerFolder = downloads.Path();
  settings.timeouts.silenceMs = 60000;
  UpdateCheck check(settings, frontEnd);
  std::thread canceller([&] {
    for (int i = 0; i < 1000 && frontEnd.received <= 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    check.Cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(check.Run(), UpdateOutcome::kCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  canceller.join();
  EXPECT_EQ(frontEnd.lines.back(), "Downloading file..");
  EXPECT_TRUE(Downloads().empty());
}

}  // namespace
}  // namespace morlak
