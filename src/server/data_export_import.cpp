#include "server/data_export_import.h"

#include "platform/files.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "stores/storage_entry_scanner.h"
#include "stores/storage_file.h"

namespace morlak {

const std::array<DataFile, 10> kDataFiles = {{
    {"httpdomainaliases.lst", "Domain aliases file is missing, export aborted."},
    {"httprootaliases.lst", "Root aliases file is missing, export aborted."},
    {"httpspecialfiles.lst", "Special files file is missing, export aborted."},
    {"httpsettings.lst", "Http setting file is missing, export aborted.", true},
    {"httpmimelist.lst", "Mime list file is missing, export aborted."},
    {"statlist.lst", "Statistics list file is missing, export aborted."},
    {"statagents.lst", "Statistics file is missing (agents), export aborted."},
    {"statconnections.lst", "Statistics file is missing (connections), export aborted."},
    {"statbytes.lst", "Statistics file is missing (bytes), export aborted."},
    {"httpmembers.lst", "Member file is missing, export aborted.", true},
}};

namespace {

// The data file an entry name stands for (letter case ignored), or nullptr.
const DataFile* DataFileNamed(const std::string& name) {
  for (const auto& file : kDataFiles)
    if (SameText(file.name, name)) return &file;
  return nullptr;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += (text.empty() ? "" : "\r") + line;
  return text;
}

}  // namespace

bool ExportData(const std::string& programFolder, const std::string& containerPath,
                DataTransferPrompts& prompts) {
  if (FileExists(containerPath) && !prompts.AskYesNo("Overwrite existing file?")) return false;
  std::vector<std::string> paths;
  const std::string folder = IncludeTrailingSeparator(programFolder);
  for (const auto& file : kDataFiles) {
    if (!FileExists(folder + file.name)) {
      prompts.ShowError(file.missingMessage);
      return false;
    }
    paths.push_back(folder + file.name);
  }
  TOzm_StorageFile storage;
  storage.OnMessage = [&](const std::string& message) { prompts.ShowError(message); };
  storage.SetFilename(containerPath);
  // The container carries the settings' pass phrase and the members' passwords.
  if (!storage.SaveFiles(paths, FileAccess::kSecret)) {
    prompts.ShowError("Failed to export web server data.");
    return false;
  }
  prompts.ShowInformation("Web server data exported succesfully.");
  return true;
}

bool CheckImportContainer(const std::string& containerPath, std::vector<std::string>& problems) {
  const size_t before = problems.size();
  try {
    TFileStream stream(containerPath, TFileStream::Mode::kRead);
    StorageEntryScanner scanner(stream, problems);
    if (!scanner.CheckHeader()) return false;
    StorageEntry entry;
    for (;;) {
      const auto step = scanner.Next(entry);
      if (step == StorageEntryScanner::Step::kEnd) break;
      if (step != StorageEntryScanner::Step::kEntry) return false;
      if (!DataFileNamed(entry.name))
        problems.push_back("\"" + entry.name + "\" is not a web server data file.");
    }
  } catch (const EStreamError& e) {
    problems.push_back(e.what());  // names the file and the system's reason
  }
  return problems.size() == before;
}

ImportOutcome ImportData(const std::string& containerPath, const std::string& programFolder,
                         const std::function<void()>& beforeWriting, DataTransferPrompts& prompts) {
  std::vector<std::string> problems;
  if (!CheckImportContainer(containerPath, problems)) {
    problems.push_back("Import cancelled, nothing was changed.");
    prompts.ShowError(JoinLines(problems));
    return ImportOutcome::kRefused;
  }
  beforeWriting();
  TOzm_StorageFile storage;
  storage.OnMessage = [&](const std::string& message) { prompts.ShowError(message); };
  storage.SetFilename(containerPath);
  for (const std::string& name : storage.ListEntries().lines) {
    // Checked above; the known name is used so the file gets its usual spelling.
    const DataFile* file = DataFileNamed(name);
    if (file && storage.ExtractToFolder(file->name, programFolder,
                                        file->secret ? FileAccess::kSecret : FileAccess::kShared))
      continue;
    if (prompts.AskYesNo("Failed to extract \"" + name + "\", abort import?"))
      return ImportOutcome::kAborted;
  }
  return ImportOutcome::kImported;
}

}  // namespace morlak
