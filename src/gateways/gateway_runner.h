// A program or library that answers a request instead of a file: the CGI runner and
// the extension-library runner share this shape.
#pragma once

#include <string>

namespace morlak {

class TIdPeerThread;
class TIdHTTPRequestInfo;
class TIdHTTPResponseInfo;

class TGatewayRunner {
 public:
  virtual ~TGatewayRunner() = default;

  // Runs the program or library at `localPath` for the request and fills the response.
  virtual void Execute(const std::string& localPath, TIdPeerThread& thread,
                       TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                       const std::string& documentDirectory, const std::string& pathInfo) = 0;

  std::string ServerAdmin;
  bool PHPSupport = false;
  std::string PHPIniPath;
};

}  // namespace morlak
