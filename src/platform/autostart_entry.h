// Start at logon: an XDG autostart entry, morlak.desktop in $XDG_CONFIG_HOME/autostart/
// (~/.config/autostart/ when the variable is unset or not absolute), that desktop sessions
// run when the user logs on.
#pragma once

#include <string>
#include <vector>

namespace morlak {

// Where the entry lives; empty when neither XDG_CONFIG_HOME nor HOME is usable.
std::string AutostartEntryPath();

// The entry's text: a desktop entry whose Exec line runs `program` with `args`, each quoted
// and escaped so that spaces, quotes, "$", "\" and "%" reach the program unchanged.
std::string AutostartEntryText(const std::string& program, const std::vector<std::string>& args);

// Writes the entry (its folder created when missing) so that it names `program`; false when
// `program` is not an existing file or the entry cannot be written.
bool WriteAutostartEntry(const std::string& program, const std::vector<std::string>& args);

// Removes the entry when present; false only when it exists and cannot be removed.
bool RemoveAutostartEntry();

}  // namespace morlak
