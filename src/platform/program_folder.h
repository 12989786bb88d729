// Which folder holds the data files and the default site. A build runs from its own folder;
// an installed executable (/usr/bin/morlak, a folder its users cannot write) keeps each
// user's files in $XDG_DATA_HOME/morlak/, seeded from the package's shared folder
// <prefix>/share/morlak/. The user guide sits beside a build's executable and under
// <prefix>/share/doc/morlak/ in the package.
#pragma once

#include <string>

namespace morlak {

// $XDG_DATA_HOME/morlak/ (~/.local/share/morlak/ when the variable is unset or not
// absolute); empty when neither it nor HOME is usable.
std::string UserProgramFolder();

bool IsWritableFolder(const std::string& folder);

struct ProgramFolderChoice {
  std::string folder;  // ends with the separator; empty when no folder can be named
  bool seed = false;   // filled from the shared folder when missing or empty
};
// `dataDir` (--data-dir) wins, then a writable executable folder, then the user's folder.
ProgramFolderChoice ChooseProgramFolder(const std::string& dataDir,
                                        const std::string& executableFolder,
                                        bool executableFolderWritable);

// <prefix>/share/morlak/ for an executable in <prefix>/bin/.
std::string SharedDataFolder(const std::string& executableFolder);

// Creates `folder` when missing and, when it holds nothing yet, copies the shared folder's
// files into it (links followed), so a folder the user has filled is never touched. A
// missing shared folder (a build) copies nothing. Returns why it failed, empty on success.
std::string SeedProgramFolder(const std::string& folder, const std::string& sharedFolder);

// The guide's start page: beside the executable (a build), in the package's documentation
// folder, or in the default site of the program folder, whichever exists first; the first
// of them when none does.
std::string UserGuideFile(const std::string& executableFolder, const std::string& programFolder);

}  // namespace morlak
