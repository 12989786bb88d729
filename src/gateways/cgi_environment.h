// The environment a CGI program is started with: 48 "NAME=value" entries in a fixed order
// built from the request, the connection and the runner's settings. Nothing else of the
// server's own environment reaches the program.
#pragma once

#include <string>
#include <vector>

namespace morlak {

class TIdHTTPRequestInfo;

// What one call knows besides the request.
struct TCgiCallValues {
  bool hasServer = false;      // a listener is bound: SERVER_SOFTWARE is present
  std::string serverSoftware;  // the bound listener's ServerSoftware
  std::string fileName;        // the program as passed
  // The page a PHP compiler runs, empty for any other program. php-cgi runs the file that
  // PATH_TRANSLATED or SCRIPT_FILENAME names, so both name the page then.
  std::string page;
  std::string documentRoot;
  std::string pathInfo;
  std::string localAddress;  // the connection's own end
  int localPort = 0;
  std::string remoteHost;  // reverse name of the client, or its address
  bool phpSupport = false;
  std::string phpIniPath;
  std::string serverAdmin;
};

// The document path up to and including the first ".EXE" (case ignored), or all of it.
std::string CutAfterExe(const std::string& documentPath);

// documentRoot + documentPath as a full path: relative to the working folder when not
// absolute, "." and ".." resolved, separator runs collapsed.
std::string TranslatePath(const std::string& documentRoot, const std::string& documentPath);

std::vector<std::string> BuildCgiEnvironment(const TIdHTTPRequestInfo& request,
                                             const TCgiCallValues& call);

}  // namespace morlak
