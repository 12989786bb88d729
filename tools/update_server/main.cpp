// update_server: publishes builds to Morlak's update dialog from one folder, until
// SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <map>
#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "update_server/update_server.h"

namespace {

const char kUsage[] =
    "Usage: update_server --folder DIR [--port N] [--bind IP] [misbehaviour...]\n"
    "\n"
    "Answers Morlak's update questions (TCP, default port 4995) from DIR:\n"
    "  message.txt        lines shown to every client (missing or empty: no message)\n"
    "  build.txt          the newest build number (missing: the client hears FNF)\n"
    "  MorlakInstall.exe  the installer clients download\n"
    "\n"
    "Misbehaviour, for trying the client out:\n"
    "  --message-reply W   answer GETMESSAGE with W (e.g. NO)\n"
    "  --build-reply W     answer GETBUILD with W (NO, HDR, ERR, FNF, UCM, ...)\n"
    "  --file-reply W      answer GETFILE with W (ERR, FNF, UCM, ...)\n"
    "  --build-line T      send T as the build number\n"
    "  --size-line T       send T as the file size (ERR, -1, abc, ...)\n"
    "  --short-by N        close N bytes before the end of the file\n"
    "  --extra-bytes N     send N bytes more than announced\n"
    "  --stall-at C        go silent at C: CONNECT, GETMESSAGE, GETBUILD, GETFILE, DATA\n"
    "  --close-early-at C  cut the first reply line to command C and close\n"
    "  --long-line-at C    answer command C with 1 MB without a line end\n";

bool ParseCount(const std::string& text, int64_t& out) {
  return morlak::TryParseInt64(text, out) && out >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  morlak::UpdateServerOptions options;
  const std::map<std::string, std::string*> texts = {{"--folder", &options.folder},
                                                     {"--bind", &options.bindIp},
                                                     {"--message-reply", &options.messageReply},
                                                     {"--build-reply", &options.buildReply},
                                                     {"--file-reply", &options.fileReply},
                                                     {"--build-line", &options.buildLine},
                                                     {"--size-line", &options.sizeLine},
                                                     {"--stall-at", &options.stallAt},
                                                     {"--close-early-at", &options.closeEarlyAt},
                                                     {"--long-line-at", &options.longLineAt}};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "update_server: \"%s\" needs a value\n\n%s", arg.c_str(), kUsage);
      return 2;
    }
    const std::string value = argv[++i];
    int64_t number = 0;
    if (const auto text = texts.find(arg); text != texts.end()) {
      *text->second = value;
    } else if (arg == "--port" && ParseCount(value, number) && number <= 65535) {
      options.port = static_cast<int>(number);
    } else if (arg == "--short-by" && ParseCount(value, number)) {
      options.shortBy = number;
    } else if (arg == "--extra-bytes" && ParseCount(value, number)) {
      options.extraBytes = number;
    } else {
      std::fprintf(stderr, "update_server: bad option \"%s %s\"\n\n%s", arg.c_str(), value.c_str(),
                   kUsage);
      return 2;
    }
  }
  if (options.folder.empty() || !morlak::DirectoryExists(options.folder)) {
    std::fprintf(stderr, "update_server: --folder must name an existing folder\n\n%s", kUsage);
    return 2;
  }

  // Every thread inherits this mask, so only the sigwait below sees the stop signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  morlak::UpdateServer server(options);
  server.OnLog = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  try {
    server.Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "update_server: %s\n", e.what());
    return 1;
  }
  std::printf("Serving %s on port %d\n", options.folder.c_str(), server.Port());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.Stop();
  return 0;
}
