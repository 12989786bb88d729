// The program's entry: the desktop window, or with --headless the console front end, which
// runs the server without a window until SIGINT or SIGTERM.
#include <signal.h>

#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "app/desktop_main.h"
#include "cli/console_front_end.h"
#include "cli/data_transfer_commands.h"
#include "platform/files.h"
#include "platform/heap_tuning.h"
#include "platform/program_folder.h"
#include "platform/text.h"
#include "server/self_signed_certificate.h"
#include "server/server_core.h"
#include "server/version.h"

namespace {

const char kUsage[] =
    "Usage: morlak [--headless] [--data-dir DIR] [--http-port N] [--https-port N]\n"
    "       morlak --make-certificate [--force] [--data-dir DIR]\n"
    "       morlak --export FILE [--data-dir DIR]\n"
    "       morlak --import FILE [--data-dir DIR]\n"
    "\n"
    "Runs the Morlak web server with its desktop window, or without a window.\n"
    "\n"
    "  --headless        run in the console: log lines go to standard output\n"
    "  --data-dir DIR    use DIR as the program folder holding every data file and the\n"
    "                    default site (default: the executable's folder, or when that\n"
    "                    cannot be written $XDG_DATA_HOME/morlak, ~/.local/share/morlak\n"
    "                    unless set); an empty or new program folder outside a build\n"
    "                    starts with the default site installed with the program\n"
    "  --http-port N     listen for HTTP on port N for this run only (0 = any free port)\n"
    "  --https-port N    listen for HTTPS on port N for this run only (0 = any free port)\n"
    "  --make-certificate  write a private key (encrypted with the certpassword\n"
    "                    setting) and a self-signed certificate for this machine and\n"
    "                    \"localhost\" into the program folder, point the certcert,\n"
    "                    certkey and certroot settings at them, and exit; turn on\n"
    "                    certhttps to serve HTTPS with them\n"
    "  --force           with --make-certificate: replace existing certificate files\n"
    "  --export FILE     write every data file of the program folder into the data\n"
    "                    container FILE (.webdata) and exit; an existing FILE is replaced\n"
    "  --import FILE     check the data container FILE and unpack it into the program\n"
    "                    folder, then exit; stop any server using that folder first, or\n"
    "                    it overwrites the imported files when it ends\n"
    "  --version         print the version and exit\n"
    "  --help            print this text and exit\n"
    "\n"
    "SIGINT or SIGTERM stops the listeners, saves every data file and exits.\n"
    "The window needs a display; without one, use --headless.\n";

bool ParsePort(const char* text, std::optional<int>& port) {
  int32_t value;
  if (!morlak::TryParseInt(text, value) || value < 0 || value > 65535) return false;
  port = value;
  return true;
}

int MakeCertificate(const std::string& folder, bool force) {
  morlak::ServerSettings settings;
  settings.InitSettingsDefaults(folder);
  // A missing content-type list also fails the load, but the settings were read then.
  if (!settings.LoadSettings() &&
      morlak::FileExists(folder + morlak::ServerSettings::kMimeListFileName)) {
    std::fprintf(stderr, "morlak: cannot read the settings in \"%s\"\n", folder.c_str());
    return 1;
  }
  const morlak::CertificateResult result =
      morlak::MakeSelfSignedCertificate(settings, folder, force);
  std::fprintf(result.ok ? stdout : stderr, "%s%s\n",
               result.ok ? "" : "morlak: ", result.message.c_str());
  if (result.filesExist) std::fputs("Add --force to replace them.\n", stderr);
  return result.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  morlak::TuneHeapForServer();
  morlak::CoreOptions options;
  options.arguments.assign(argv + 1, argv + argc);
  std::string dataDir;
  bool headless = false;
  bool makeCertificate = false, force = false;
  std::string exportFile, importFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("Morlak r%d.%d.%d (build %d)\n", morlak::kVersionMajor, morlak::kVersionMinor,
                  morlak::kVersionRelease, morlak::kBuildNumber);
      return 0;
    } else if (arg == "--export" && hasValue) {
      exportFile = argv[++i];
    } else if (arg == "--import" && hasValue) {
      importFile = argv[++i];
    } else if (arg == "--headless") {
      headless = true;
    } else if (arg == "--make-certificate") {
      makeCertificate = true;
    } else if (arg == "--force") {
      force = true;
    } else if (arg == "--data-dir" && hasValue) {
      dataDir = argv[++i];
      if (!morlak::DirectoryExists(dataDir)) {
        std::fprintf(stderr, "morlak: data folder \"%s\" does not exist\n", dataDir.c_str());
        return 2;
      }
    } else if (arg == "--http-port" && hasValue) {
      if (!ParsePort(argv[++i], options.httpPort)) {
        std::fprintf(stderr, "morlak: bad port \"%s\"\n", argv[i]);
        return 2;
      }
    } else if (arg == "--https-port" && hasValue) {
      if (!ParsePort(argv[++i], options.httpsPort)) {
        std::fprintf(stderr, "morlak: bad port \"%s\"\n", argv[i]);
        return 2;
      }
    } else {
      std::fprintf(stderr, "morlak: unknown option \"%s\"\n\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }

  const std::string executableFolder = morlak::ExecutableFolder();
  const morlak::ProgramFolderChoice choice = morlak::ChooseProgramFolder(
      dataDir, executableFolder, morlak::IsWritableFolder(executableFolder));
  if (choice.folder.empty()) {
    std::fputs("morlak: no program folder: set HOME or XDG_DATA_HOME, or use --data-dir\n", stderr);
    return 2;
  }
  options.programFolder = choice.folder;
  if (choice.seed) {
    const std::string error =
        morlak::SeedProgramFolder(choice.folder, morlak::SharedDataFolder(executableFolder));
    if (!error.empty()) {
      std::fprintf(stderr, "morlak: %s\n", error.c_str());
      return 1;
    }
  }

  if (makeCertificate) return MakeCertificate(options.programFolder, force);
  if (!exportFile.empty() && !importFile.empty()) {
    std::fputs("morlak: --export and --import cannot be combined\n", stderr);
    return 2;
  }
  if (!exportFile.empty()) return morlak::RunExportCommand(options.programFolder, exportFile);
  if (!importFile.empty()) return morlak::RunImportCommand(options.programFolder, importFile);

  if (!headless) return morlak::RunDesktop(argc, argv, options);

  // Every thread inherits this mask, so only the signal thread below sees the stop signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  morlak::ConsoleFrontEnd frontEnd;
  // A stop signal during start-up ends the process at once: the stores are not all loaded
  // yet, and saving them would overwrite the files with what little was read. Afterwards
  // it asks the main loop for the orderly stop that saves everything.
  std::mutex stopLock;
  std::condition_variable stopAsked;
  bool started = false, stop = false;
  std::thread([&] {
    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    std::lock_guard lock(stopLock);
    if (!started) {
      frontEnd.FlushLog();
      std::_Exit(128 + signalNumber);
    }
    stop = true;
    stopAsked.notify_all();
  }).detach();

  morlak::ServerCore core(frontEnd, options);
  core.Startup(true);
  std::unique_lock lock(stopLock);
  started = true;
  // Log lines are flushed every 250 ms; the core's housekeeping runs every 2 s.
  for (int round = 1;
       !stopAsked.wait_for(lock, std::chrono::milliseconds(250), [&] { return stop; }); ++round) {
    lock.unlock();
    frontEnd.FlushLog();
    if (round % 8 == 0) core.Tick();
    lock.lock();
  }
  lock.unlock();
  core.Shutdown();
  frontEnd.FlushLog();
  return 0;
}
