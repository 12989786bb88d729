// The extension-library runner: loads a library once and keeps it, asks it for its
// version, fills a control block from the request, calls the library's request entry
// point and serves its calls back into the server. What the library writes becomes the
// response body.
// TidISAPIRunner is that runner; one is bound to each listener.
#pragma once

#include <functional>
#include <string>

#include "engine/http_server.h"
#include "gateways/extension_library_cache.h"
#include "gateways/gateway_runner.h"

namespace morlak {

class TidISAPIRunner : public TGatewayRunner {
 public:
  // `server` is the bound listener (SERVER_SOFTWARE); it may be null.
  explicit TidISAPIRunner(TIdHTTPServer* server) : Server(server) {}
  // Frees every cached library (their termination entry points are not called).
  ~TidISAPIRunner() override;

  // The dispatcher's call: the library stays cached.
  void Execute(const std::string& localPath, TIdPeerThread& thread, TIdHTTPRequestInfo& request,
               TIdHTTPResponseInfo& response, const std::string& documentDirectory,
               const std::string& pathInfo) override {
    Execute(localPath, thread, request, response, documentDirectory, false, pathInfo);
  }
  // `fileName` is the library's full local path, `documentRoot` the document folder,
  // `pathInfo` the request path after the library's name. With `unloadAfterUse` the
  // library is loaded for this call alone.
  void Execute(const std::string& fileName, TIdPeerThread& thread, TIdHTTPRequestInfo& request,
               TIdHTTPResponseInfo& response, const std::string& documentRoot, bool unloadAfterUse,
               const std::string& pathInfo);

  TIdHTTPServer* Server;

  // Notifications; the server leaves all but OnModuleNotFound unassigned.
  std::function<void(TidISAPIRunner&)> BeforeExecute, AfterExecute;
  std::function<void(TidISAPIRunner&, const std::string& fileName)> OnModuleLoad;
  std::function<void(TidISAPIRunner&, const std::string& fileName, const std::string& reason)>
      OnModuleNotFound;
  std::function<void(TidISAPIRunner&, const std::string& fileName, const std::string& message)>
      OnISAPIStructureError;
  std::function<void(TidISAPIRunner&, const std::string& fileName)> OnVersionInfoError;
  std::function<void(TidISAPIRunner&, TIdHTTPRequestInfo&, const std::string& text,
                     TIdHTTPResponseInfo&)>
      OnLogServerMessage;

  size_t CachedLibraryCount() const { return cache_.Count(); }

 private:
  ExtensionLibraryCache cache_;
};

}  // namespace morlak
