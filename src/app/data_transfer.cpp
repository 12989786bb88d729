#include "app/data_transfer.h"

#include "app/dialog_services.h"
#include "platform/files.h"
#include "platform/program_process.h"
#include "server/data_export_import.h"
#include "server/server_core.h"

namespace morlak {

namespace {

// This instance's options for the new one, with the folder the files were imported into.
std::vector<std::string> RestartArguments(const std::vector<std::string>& given,
                                          const std::string& folder) {
  std::vector<std::string> args;
  for (size_t i = 0; i < given.size(); ++i) {
    if (given[i] == "--data-dir")
      ++i;
    else
      args.push_back(given[i]);
  }
  args.insert(args.end(), {"--data-dir", folder});
  return args;
}

}  // namespace

DataTransfer::DataTransfer(ServerCore& core, FileChooser& files, DataTransferPrompts& prompts,
                           QObject* parent)
    : QObject(parent),
      core_(core),
      files_(files),
      prompts_(prompts),
      starter_([](const std::string& program, const std::vector<std::string>& args,
                  std::string* error) { return StartProgram(program, args, error); }),
      stopListeners_([this] { core_.StopServers(); }) {}

void DataTransfer::Export(QWidget* parent) {
  const std::string folder = core_.Settings().GetMainPath();
  const QString chosen =
      files_.SaveFile(parent, kWebDataFilter, ToQt(folder), ToQt(kExportFileName));
  if (chosen.isEmpty()) return;
  // The export takes the files from disk; the stores hold what changed since the last save.
  core_.SaveStores();
  ExportData(folder, FromQt(chosen), prompts_);
}

void DataTransfer::Import(QWidget* parent) {
  if (!prompts_.AskYesNo(kImportQuestion)) return;
  const std::string folder = core_.Settings().GetMainPath();
  const QString chosen = files_.OpenFile(parent, kWebDataFilter, ToQt(folder));
  if (chosen.isEmpty()) return;
  const ImportOutcome outcome = ImportData(
      FromQt(chosen), folder,
      [this] {
        stopListeners_();
        core_.FreezeDataFiles();
      },
      prompts_);
  if (outcome != ImportOutcome::kImported) return;

  prompts_.ShowInformation(kImportedRestartMessage);
  // This instance ends without saving (the data files are frozen) even when the new one
  // cannot start: saving would overwrite the files just imported.
  restartPending_ = true;
  std::string error;
  if (starter_(ExecutablePath(), RestartArguments(core_.Arguments(), folder), &error) < 0)
    prompts_.ShowError("Failed to start Morlak again (" + error +
                       "); start it yourself to use the imported data.");
  emit RestartRequired();
}

}  // namespace morlak
