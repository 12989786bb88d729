// Runs one external program per request in the manner of the Common Gateway Interface:
// the environment is built from the request, the request parameters go to the program's
// standard input, and what it writes becomes the answer (status, headers, body). PHP
// pages run through the same runner with the PHP compiler as the program.
// TidCGIRunner is that runner; the core owns one per listener.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "gateways/gateway_runner.h"
#include "platform/host_names.h"

namespace morlak {

class TIdCustomHTTPServer;

class TidCGIRunner : public TGatewayRunner {
 public:
  TidCGIRunner();

  // Source of SERVER_SOFTWARE; without one the entry is left out.
  const TIdCustomHTTPServer* Server = nullptr;
  unsigned TimeOut = 5000;  // ms for the program to end and its output to be read
  // Body of the 500 answer when the program did not start, did not end in time, wrote more
  // than MaxOutput or was ended by a signal.
  std::string TimeOutMsg = "<html><body><h1><center>Process was terminated.</body></html>";
  // Body of the 500 answer when the pipes to the program cannot be set up.
  std::string ErrorMsg = "<html><body><h1><center>Internal Server Error</body></html>";
  size_t MaxOutput = size_t{64} << 20;      // as much as a request body may hold
  int RemoteHostTimeOut = kHostNameWaitMs;  // ms for the client's reverse name lookup
  std::function<void(TidCGIRunner&)> BeforeExecute, AfterExecute;

  // What one call needs beyond Execute's arguments, and what went wrong in it.
  struct Call {
    // The page when the program is the PHP compiler, else empty.
    std::string page;
    std::string failure;  // a log text when the program failed, else empty
  };

  void Execute(const std::string& localPath, TIdPeerThread& thread, TIdHTTPRequestInfo& request,
               TIdHTTPResponseInfo& response, const std::string& documentDirectory,
               const std::string& pathInfo) override;
  // Runs `fileName` for the request and fills the response; returns its ContentLength.
  // Throws std::system_error when the pipes cannot be made.
  int64_t Run(const std::string& fileName, TIdPeerThread& thread, TIdHTTPRequestInfo& request,
              TIdHTTPResponseInfo& response, const std::string& documentRoot,
              const std::string& pathInfo, Call& call);

 private:
  void Fail(TIdHTTPResponseInfo& response, const std::string& body) const;
};

}  // namespace morlak
