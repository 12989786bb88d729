// Data export and import: the ten data files of the program folder bundled into one
// ".webdata" storage file and unpacked from it again. The operations are shared by the
// settings dialog and the console; what they must ask or tell the user goes through
// DataTransferPrompts, so each front end answers in its own way.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace morlak {

class DataTransferPrompts {
 public:
  virtual ~DataTransferPrompts() = default;
  // A question with Yes and No; true for Yes. Line breaks in texts are "\r".
  virtual bool AskYesNo(const std::string& question) = 0;
  virtual void ShowInformation(const std::string& text) = 0;
  virtual void ShowError(const std::string& text) = 0;
};

struct DataFile {
  const char* name;
  const char* missingMessage;  // shown when the export finds the file missing
  bool secret = false;         // holds pass phrases or passwords: created for the owner only
};

// The data files in the order they are exported.
extern const std::array<DataFile, 10> kDataFiles;

inline constexpr const char* kWebDataFilter = "Web server data (*.webdata)|*.webdata";
inline constexpr const char* kExportFileName = "WebServerExport.webdata";
inline constexpr const char* kImportQuestion =
    "Morlak will re-start after import,\rAre you sure so continue?";
inline constexpr const char* kImportedRestartMessage =
    "File imported.\rApplication will now restart.";

// Writes the container `containerPath` from the data files of `programFolder` (steps after
// the file choice: the overwrite question, the missing-file check, the writing and its
// message). An existing container is replaced only once the new one is complete.
bool ExportData(const std::string& programFolder, const std::string& containerPath,
                DataTransferPrompts& prompts);

enum class ImportOutcome {
  kRefused,   // the container failed the check: nothing was stopped or written
  kAborted,   // the user ended the import after a failed extraction; files written stay
  kImported,  // every entry was handled; the program must restart to read the files
};

// Checks that the container is readable to its end and holds only data-file names; the
// problems in the user's words otherwise.
bool CheckImportContainer(const std::string& containerPath, std::vector<std::string>& problems);

// Checks the whole container, then calls `beforeWriting` (where the caller stops its
// listeners and its own saving of data files) and extracts every entry into
// `programFolder`, asking whether to abort when one fails. A container that fails the check
// is refused with its problems and changes nothing.
ImportOutcome ImportData(const std::string& containerPath, const std::string& programFolder,
                         const std::function<void()>& beforeWriting, DataTransferPrompts& prompts);

}  // namespace morlak
