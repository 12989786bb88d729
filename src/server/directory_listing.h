// The HTML table that a ||DIRLIST( tag turns into.
#pragma once

#include <string>

namespace morlak {

// Lists the files (never folders) matched by `directory` + "*": a directory ending in the
// path separator lists its contents, any other text lists the names beside it that begin
// with its last component. Links are `linkPrefix` + file name, neither encoded nor
// escaped. Lines end in CR LF; no match, or a folder that cannot be read, gives "".
std::string BuildDirectoryListing(const std::string& linkPrefix, const std::string& directory);

}  // namespace morlak
