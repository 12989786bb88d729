// The console's data export and import (--export FILE, --import FILE): the same operations
// as the settings dialog, without questions, for a server that has no display.
#pragma once

#include <cstdio>
#include <string>

namespace morlak {

// Exit status 0 only on success; messages go to `out` (information) and `err` (errors).
int RunExportCommand(const std::string& programFolder, const std::string& containerPath,
                     std::FILE* out = stdout, std::FILE* err = stderr);
int RunImportCommand(const std::string& programFolder, const std::string& containerPath,
                     std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace morlak
