// One update check: asks the update server for a message and the newest build, one
// connection per question, and downloads the installer when a newer build exists and
// the user picks a file for it. The texts it reports are the update dialog's progress
// lines and progress-bar texts; any front end (the dialog, the console) shows them.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "server/update_client.h"

namespace morlak {

constexpr char kInstallerFileName[] = "MorlakInstall.exe";

// A build or size line that is not a number; ends the check.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a check shows. Called on the thread that runs the check.
class UpdateCheckFrontEnd {
 public:
  virtual ~UpdateCheckFrontEnd() = default;
  // A new check: no progress lines, the bar at 0 without text.
  virtual void Begin() = 0;
  virtual void Progress(const std::string& text) = 0;
  virtual void BarText(const std::string& text) = 0;
  // The bar spans 0..size, stands at `received` and reads "received / size".
  virtual void BarCount(int64_t received, int64_t size) = 0;
  // Shows the server's message; returns when the user has seen it.
  virtual void ShowMessage(const std::string& text) = 0;
  // Asks where to save the installer, starting from `proposed`; false when cancelled.
  virtual bool ChooseTargetFile(const std::string& proposed, std::string& chosen) = 0;
};

struct UpdateCheckSettings {
  std::string host;
  int port = kUpdatePort;
  int64_t buildNumber = 0;      // the running program's build
  std::string programFileName;  // sent with GETMESSAGE and GETBUILD
  std::string installerFolder;  // with a trailing separator; where the installer is proposed
  UpdateTimeouts timeouts;
};

enum class UpdateOutcome { kFailed, kNoUpdate, kInterrupted, kDownloaded, kCancelled };

class UpdateCheck {
 public:
  UpdateCheck(UpdateCheckSettings settings, UpdateCheckFrontEnd& frontEnd)
      : settings_(std::move(settings)), frontEnd_(frontEnd) {}

  // Runs the whole check. Throws EConvertError for a build or size line that is not a
  // decimal number. After Cancel it returns kCancelled without further reports, and a
  // download in progress leaves no file behind.
  UpdateOutcome Run();
  // From any thread.
  void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
  bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

 private:
  // The outcome when the check ends there; nullopt when it goes on (with the build
  // question, with the download of a newer build).
  std::optional<UpdateOutcome> AskForMessage();
  std::optional<UpdateOutcome> AskForBuild();
  UpdateOutcome FetchInstaller(const std::string& target);
  UpdateOutcome Download(UpdateClient& client, const std::string& target, int64_t size);
  // Reads a reply line; false (the exchange failed) on a time-out, an over-long line, a
  // socket error or a cancel. A close by the server counts as a line.
  bool ReadReply(UpdateClient& client, std::string& line);
  UpdateOutcome End(const std::string& line, const std::string& barText = {});

  UpdateCheckSettings settings_;
  UpdateCheckFrontEnd& frontEnd_;
  std::atomic<bool> cancelled_{false};
};

// The decimal value of a build or size line; EConvertError when it is none.
int64_t ParseReplyNumber(const std::string& text);

}  // namespace morlak
