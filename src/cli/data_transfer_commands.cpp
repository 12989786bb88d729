#include "cli/data_transfer_commands.h"

#include "platform/text.h"
#include "server/data_export_import.h"

namespace morlak {

namespace {

// The user named the file on the command line, so an existing container is replaced (only
// once the new one is complete); a failed extraction ends the import.
class ConsolePrompts : public DataTransferPrompts {
 public:
  ConsolePrompts(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  bool AskYesNo(const std::string& question) override {
    Print(err_, question + " Yes");
    return true;
  }
  void ShowInformation(const std::string& text) override { Print(out_, text); }
  void ShowError(const std::string& text) override { Print(err_, text); }

 private:
  static void Print(std::FILE* to, const std::string& text) {
    std::fprintf(to, "%s\n", ReplaceAll(text, "\r", "\n").c_str());
    std::fflush(to);
  }

  std::FILE* out_;
  std::FILE* err_;
};

}  // namespace

int RunExportCommand(const std::string& programFolder, const std::string& containerPath,
                     std::FILE* out, std::FILE* err) {
  ConsolePrompts prompts(out, err);
  return ExportData(programFolder, containerPath, prompts) ? 0 : 1;
}

int RunImportCommand(const std::string& programFolder, const std::string& containerPath,
                     std::FILE* out, std::FILE* err) {
  ConsolePrompts prompts(out, err);
  // No listener runs in this process; a server still running on the same folder would
  // overwrite the imported files when it exits, which the help text warns about.
  switch (ImportData(
      containerPath, programFolder, [] {}, prompts)) {
    case ImportOutcome::kImported:
      prompts.ShowInformation("File imported.");
      return 0;
    case ImportOutcome::kAborted:
      prompts.ShowError("Import aborted; the files extracted so far stay.");
      return 1;
    case ImportOutcome::kRefused:
      break;
  }
  return 1;
}

}  // namespace morlak
