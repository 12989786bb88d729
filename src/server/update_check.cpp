#include "server/update_check.h"

#include <memory>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/text.h"

namespace morlak {

namespace {

// A message longer than this is not a message but a misbehaving server.
constexpr size_t kMaxMessage = 256 * 1024;
constexpr size_t kReceiveBlock = 64 * 1024;

}  // namespace

int64_t ParseReplyNumber(const std::string& text) {
  int64_t value = 0;
  if (TryParseInt64(text, value)) return value;
  // The line may be up to a reply line long; the message quotes its start.
  constexpr size_t kQuoted = 40;
  const std::string quoted = text.size() > kQuoted ? text.substr(0, kQuoted) + "..." : text;
  throw EConvertError("'" + quoted + "' is not a valid integer value");
}

UpdateOutcome UpdateCheck::End(const std::string& line, const std::string& barText) {
  if (Cancelled()) return UpdateOutcome::kCancelled;
  frontEnd_.Progress(line);
  if (!barText.empty()) frontEnd_.BarText(barText);
  return UpdateOutcome::kFailed;
}

bool UpdateCheck::ReadReply(UpdateClient& client, std::string& line) {
  const ReplyStatus status = client.ReadLine(line);
  return status == ReplyStatus::kLine || status == ReplyStatus::kClosed;
}

UpdateOutcome UpdateCheck::Run() {
  frontEnd_.Begin();
  frontEnd_.Progress("Connecting to " + settings_.host + ":" + std::to_string(settings_.port) +
                     "..");
  if (const auto ended = AskForMessage()) return *ended;
  if (const auto ended = AskForBuild()) return *ended;

  std::string target;
  if (!frontEnd_.ChooseTargetFile(settings_.installerFolder + kInstallerFileName, target) ||
      target.empty()) {
    if (Cancelled()) return UpdateOutcome::kCancelled;
    frontEnd_.Progress("Updating interrupted");
    frontEnd_.BarText("Interrupted.");
    return UpdateOutcome::kInterrupted;
  }
  return FetchInstaller(target);
}

std::optional<UpdateOutcome> UpdateCheck::AskForMessage() {
  UpdateClient client(settings_.timeouts, &cancelled_);
  if (!client.Connect(settings_.host, settings_.port))
    return End("Failed to connect.", "Connection Error.");
  frontEnd_.Progress("Connected");
  std::string reply;
  if (!client.SendRequest("GETMESSAGE", settings_.programFileName) || !ReadReply(client, reply))
    return End("Failed to connect.", "Connection Error.");
  if (reply != "YES") {
    frontEnd_.Progress("No message(s) available.");
    return std::nullopt;
  }
  std::string message, line;
  for (;;) {
    if (!ReadReply(client, line) || message.size() + line.size() > kMaxMessage)
      return End("Failed to connect.", "Connection Error.");
    if (line.empty()) break;
    message.append(line).push_back('\r');
  }
  client.Close();
  frontEnd_.Progress("Message received.");
  frontEnd_.ShowMessage(message);
  return std::nullopt;
}

std::optional<UpdateOutcome> UpdateCheck::AskForBuild() {
  UpdateClient client(settings_.timeouts, &cancelled_);
  if (!client.Connect(settings_.host, settings_.port))
    return End("Failed to connect.", "Connection Error.");
  if (!client.SendRequest("GETBUILD", settings_.programFileName))
    return End("Failed to connect.", "Connection Error.");
  frontEnd_.Progress("Build info request sent");
  std::string reply;
  if (!ReadReply(client, reply)) return End("Failed to connect.", "Connection Error.");
  frontEnd_.Progress("Reply received");
  if (reply == "HDR") return End("Header check failed", "Header Check Failed.");
  if (reply == "ERR") return End("Error occured while checking update");
  if (reply == "FNF") return End("File was not found on server", "Revision File Missing.");
  if (reply == "UCM") return End("Unknown command reply from server");
  if (reply != "YES") return End("Unknown response from server");

  std::string line;
  if (!ReadReply(client, line)) return End("Failed to connect.", "Connection Error.");
  const int64_t newest = ParseReplyNumber(line);
  const std::string build = "(b" + std::to_string(newest) + ").";
  if (settings_.buildNumber < newest) {
    frontEnd_.Progress("Update available " + build);
    return std::nullopt;
  }
  frontEnd_.Progress("No update available at the moment " + build);
  frontEnd_.BarText("No Update Available.");
  return UpdateOutcome::kNoUpdate;
}

UpdateOutcome UpdateCheck::FetchInstaller(const std::string& target) {
  frontEnd_.Progress("Re-connecting to " + settings_.host + ":" + std::to_string(settings_.port) +
                     "..");
  UpdateClient client(settings_.timeouts, &cancelled_);
  if (!client.Connect(settings_.host, settings_.port))
    return End("Failed to re-connect.", "Connection Error.");
  frontEnd_.Progress("Connected.");
  if (!client.SendRequest("GETFILE", kInstallerFileName))
    return End("Error downloading file.", "Download Failed.");
  frontEnd_.Progress("Get file request sent");
  std::string reply;
  if (!ReadReply(client, reply)) return End("Error downloading file.", "Download Failed.");
  frontEnd_.Progress("Reply received");
  if (reply == "ERR") return End("Error occured while downloading update");
  if (reply == "FNF") return End("Installer was not found on server", "Update File Missing.");
  if (reply == "UCM") return End("Unknown command response from server");
  if (reply != "YES") return End("Unknown response from server");

  std::string line;
  if (!ReadReply(client, line)) return End("Error downloading file.", "Download Failed.");
  if (line == "ERR") return End("Error retrieving file size", "Download Failed.");
  const int64_t size = ParseReplyNumber(line);
  if (size < 0) return End("Error retrieving file size", "Download Failed.");
  frontEnd_.Progress("File size received");
  frontEnd_.BarCount(0, size);
  return Download(client, target, size);
}

UpdateOutcome UpdateCheck::Download(UpdateClient& client, const std::string& target, int64_t size) {
  // The bytes go to a temporary file that takes the chosen name only when exactly the
  // announced size arrived; a cut, padded or cancelled download leaves no installer that
  // looks complete.
  std::unique_ptr<AtomicFileWriter> file;
  int64_t received = 0;
  const std::optional<int64_t> room = FreeDiskSpace(ExtractFileDir(target));
  if (room && size > *room) {
    frontEnd_.Progress("Error writing file");
  } else {
    try {
      file = std::make_unique<AtomicFileWriter>(target);
    } catch (const EStreamError&) {
      frontEnd_.Progress("Error opening target file");
    }
  }
  bool written = file != nullptr;
  if (file) {
    frontEnd_.Progress("Downloading file..");
    std::vector<char> block(kReceiveBlock);
    // More bytes than announced already fail the download; reading on would only fill
    // the disk for a runaway server.
    while (received <= size) {
      const int64_t n = client.Receive(block.data(), block.size());
      if (n <= 0) break;
      received += n;
      frontEnd_.BarCount(received, size);
      try {
        file->Stream().Write(block.data(), static_cast<size_t>(n));
      } catch (const EStreamError&) {
        frontEnd_.Progress("Error writing file");
        written = false;
        break;
      }
    }
  }
  client.Close();
  if (Cancelled()) return UpdateOutcome::kCancelled;
  if (written && received == size) {
    if (file->Commit()) {
      frontEnd_.Progress("File downloaded succesfully.");
      frontEnd_.BarText("Download Done.");
      return UpdateOutcome::kDownloaded;
    }
    frontEnd_.Progress("Error writing file");
  }
  return End("Error downloading file.", "Download Failed.");
}

}  // namespace morlak
