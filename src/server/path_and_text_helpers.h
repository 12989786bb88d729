// Path and text helpers of request handling. Local paths use the platform separator;
// both "/" and "\" in a request path count as separators.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morlak {

// Appends the separator to a non-empty text that does not end in one.
std::string AddTrailingBackslash(std::string text);
// Turns a request path into a path relative to a document folder: every "/" or "\"
// becomes the separator and one leading separator is removed.
std::string ToLocalPath(const std::string& text);
// Collapses every run of separators into one (in the text itself, which is returned).
std::string CollapseBackslashes(std::string text);
// CollapseBackslashes(folder + ToLocalPath(requestPath)), built in one piece.
std::string LocalPathUnder(std::string_view folder, std::string_view requestPath);

// Lines joined with commas; a line holding a control character, a blank, a comma or a
// double quote is enclosed in double quotes with inner quotes doubled.
std::string DelimitedText(const std::vector<std::string>& lines);

// "Date: Tue, 8 Dec 2026 03:15:18 GMT": the current time in UTC with the locale's long
// time format, as the file responder writes it for HEAD answers.
std::string HttpDateHeaderLine();

}  // namespace morlak
