// The control block of one extension call: the published record the library sees first,
// then the runner's own fields, which the callbacks reach through the record's ConnID.
// TECB is that block. A ConnID is a number handed out once and looked up among the live
// blocks, never an address: a call with the ConnID of an ended request, or with one made
// up, finds nothing instead of freed or foreign memory.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "gateways/extension_interface.h"
#include "gateways/extension_library_cache.h"

namespace morlak {

class TidISAPIRunner;
class TIdPeerThread;
class TIdHTTPRequestInfo;
class TIdHTTPResponseInfo;
class TIdCustomHTTPServer;

struct TECB {
  EXTENSION_CONTROL_BLOCK ecb;  // first: the library holds a pointer to it

  bool keepAlive = false;
  TidISAPIRunner* runner = nullptr;
  std::string documentRoot, serverAdmin;
  TIdPeerThread* thread = nullptr;
  TIdHTTPRequestInfo* request = nullptr;
  TIdHTTPResponseInfo* response = nullptr;
  TIdCustomHTTPServer* server = nullptr;

  // The texts the record points to belong to the block.
  std::string method, queryString, pathInfoText, pathTranslated, contentType;

  // Every callback holds the lock; the completion event is `done` under it. Once the
  // answer is made the block is `ended` and every callback refuses. A pending request
  // whose client went away is abandoned: the block stays live for the library, every
  // callback but the end of the request refuses, and that one retires the block.
  std::mutex lock;
  std::condition_variable signal;
  bool done = false;
  bool ended = false;
  bool abandoned = false;
  ExtensionLibraryCache::Library library;  // kept loaded while the block lives

  // Makes the block live under a new ConnID, which it stores in the record.
  static void Register(const std::shared_ptr<TECB>& block);
  // The live block behind a ConnID, or null for anything else.
  static std::shared_ptr<TECB> Find(HCONN connId);
  // Ends the block's life under its ConnID; a callback running on it finishes first.
  static void Retire(TECB& block);
};

// Points the record's four callbacks at the server's functions.
void InstallCallbacks(EXTENSION_CONTROL_BLOCK& ecb);

// Fills the record from the request as the runner hands it to the library.
void FillControlBlock(TECB& block, const std::string& documentRoot, const std::string& pathInfo);

// Finds a server variable's value. False when the name is unknown and no request header
// of that name (after "HTTP_", "_" also read as "-") has a value.
bool ServerVariable(TECB& block, const std::string& name, std::string& value);

// Applies a header text from a library to the response: cookies, content type, location,
// pragma and the three dates. False when a line cannot be applied (lines before it stay).
bool ApplyHeaderText(TIdHTTPResponseInfo& response, const std::string& headerText);

// "documentRoot/url" with its separators collapsed, under the absolute document folder.
std::string MapUrlToPath(const std::string& documentRoot, const std::string& url);

}  // namespace morlak
