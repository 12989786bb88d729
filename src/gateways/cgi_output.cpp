#include "gateways/cgi_output.h"

#include "platform/text.h"

namespace morlak {

TCgiOutputParts SplitCgiOutput(std::string_view output) {
  TCgiOutputParts parts;
  size_t end = std::string_view::npos;  // where the blank line's break ends
  size_t blockEnd = 0;                  // where the last header line's break ends
  for (size_t lf = output.find('\n'); lf != std::string_view::npos;
       lf = output.find('\n', lf + 1)) {
    size_t next = lf + 1;
    if (next < output.size() && output[next] == '\r') ++next;
    if (next < output.size() && output[next] == '\n') {
      blockEnd = lf + 1;
      end = next + 1;
      break;
    }
  }
  if (end == std::string_view::npos) return parts;
  // A bare LF blank line is read as the end of a header block only when a header line
  // opens it; otherwise plain text with an empty line in it would lose its first part.
  const bool cgiForm = blockEnd >= 2 && output.compare(blockEnd - 2, 4, "\r\n\r\n") == 0;
  if (!cgiForm && !IsSendableHeaderLine(output.substr(0, output.find_first_of("\r\n"))))
    return parts;
  parts.hasHeaderBlock = true;
  parts.headerLines = SplitLines(output.substr(0, blockEnd));
  parts.bodyStart = end;
  return parts;
}

int CgiStatusCode(std::string_view statusValue) {
  if (statusValue.size() < 3) return 200;
  int code = 0;
  for (char c : statusValue.substr(0, 3)) {
    if (c < '0' || c > '9') return 200;
    code = code * 10 + (c - '0');
  }
  return code >= 100 ? code : 200;
}

bool IsSendableHeaderLine(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (char c : line.substr(0, colon))
    if (static_cast<unsigned char>(c) <= ' ' || c == 127) return false;
  return true;
}

bool IsFramingHeaderLine(std::string_view line) {
  const std::string name = Trim(line.substr(0, line.find(':')));
  for (const char* framing : {"Connection", "Transfer-Encoding", "Content-Length", "Keep-Alive"})
    if (SameText(name, framing)) return true;
  return false;
}

}  // namespace morlak
