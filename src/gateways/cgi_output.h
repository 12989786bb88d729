// What a CGI program wrote, split into its header block and its body.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morlak {

struct TCgiOutputParts {
  bool hasHeaderBlock = false;
  std::vector<std::string> headerLines;  // every line of the block, as written
  size_t bodyStart = 0;                  // the body is the output from here on
};

// The header block ends at the first blank line. CR LF CR LF is the CGI form; a block
// ended by LF LF (or a mix of both) counts too, since Unix programs commonly write bare
// LF; such a block counts only when its first line is a header line. Without a header
// block all of the output is body.
TCgiOutputParts SplitCgiOutput(std::string_view output);

// The status a "Status" value asks for: its first three characters as a code from 100 to
// 999, else 200.
int CgiStatusCode(std::string_view statusValue);

// A line that can go out as a response header: a name of visible characters without
// blanks, then ":". Anything else would break the answer's header block.
bool IsSendableHeaderLine(std::string_view line);

// "Connection", "Transfer-Encoding", "Content-Length" and "Keep-Alive": the server frames
// the answer itself, so a program's framing lines would contradict its own.
bool IsFramingHeaderLine(std::string_view line);

}  // namespace morlak
