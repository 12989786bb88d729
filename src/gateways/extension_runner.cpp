#include "gateways/extension_runner.h"

#include <chrono>
#include <memory>
#include <thread>

#include "gateways/extension_control_block.h"
#include "platform/socket.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace morlak {

namespace {

// Every call ends with this pause before the answer goes out.
constexpr auto kPauseAfterCall = std::chrono::milliseconds(75);
// How often a pending request looks whether its client is still there.
constexpr auto kPendingCheck = std::chrono::milliseconds(250);

// The reason phrase goes into the status line: a path holding a line break must not end it.
std::string StatusLineSafe(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return text;
}

// Memory left on purpose to a library that may still use it; a leak checker is told so.
void LeaveToLibrary(const void* memory) {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_ignore_object(memory);
#else
  (void)memory;
#endif
}

// Waits until the library ends a pending request. False when the client went away first:
// the block is then abandoned to the library, which retires it when it ends the request.
bool WaitForCompletion(TECB& block) {
  const SocketHandle socket = block.thread->Connection().IOHandler().Binding().Handle();
  std::unique_lock<std::mutex> lock(block.lock);
  while (!block.signal.wait_for(lock, kPendingCheck, [&] { return block.done; })) {
    if (SocketPeerGone(socket)) {
      block.abandoned = true;
      // The library is still running code of its own; it must never be unloaded now.
      LeaveToLibrary(new ExtensionLibraryCache::Library(block.library));
      return false;
    }
  }
  return true;
}

}  // namespace

TidISAPIRunner::~TidISAPIRunner() {
  cache_.Clear();
}

void TidISAPIRunner::Execute(const std::string& fileName, TIdPeerThread& thread,
                             TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                             const std::string& documentRoot, bool unloadAfterUse,
                             const std::string& pathInfo) {
  if (BeforeExecute) BeforeExecute(*this);
  bool loaded = false;
  std::string error;
  ExtensionLibraryCache::Library library = cache_.Acquire(fileName, unloadAfterUse, loaded, error);
  if (!library) {
    response.SetStatusCode(404);
    response.SetStatusText(StatusLineSafe("<H1>" + fileName + " not found</H1>"));
    if (OnModuleNotFound) OnModuleNotFound(*this, fileName, error);
    return;
  }
  if (loaded && OnModuleLoad) OnModuleLoad(*this, fileName);

  // Looked up on every call, so a cached library answers as it is now.
  const auto getVersion =
      reinterpret_cast<PFN_GETEXTENSIONVERSION>(library->Symbol("GetExtensionVersion"));
  const auto extensionProc =
      reinterpret_cast<PFN_HTTPEXTENSIONPROC>(library->Symbol("HttpExtensionProc"));
  const char* missing = !getVersion      ? "GetExtensionVersion"
                        : !extensionProc ? "HttpExtensionProc"
                                         : nullptr;
  if (missing) {
    response.SetStatusCode(500);
    response.BodyText =
        std::string("Internal server error. ") + missing + " procedure not assigned";
    if (OnISAPIStructureError) OnISAPIStructureError(*this, fileName, response.BodyText);
    if (AfterExecute) AfterExecute(*this);
    return;
  }

  HSE_VERSION_INFO version{};
  bool versionOk = false;
  try {
    versionOk = getVersion(&version) != FALSE;
  } catch (...) {
    versionOk = false;
  }
  if (!versionOk) {
    response.SetStatusCode(500);
    if (OnVersionInfoError) OnVersionInfoError(*this, fileName);
    if (AfterExecute) AfterExecute(*this);
    return;
  }

  const auto block = std::make_shared<TECB>();
  block->runner = this;
  block->documentRoot = documentRoot;
  block->serverAdmin = ServerAdmin;
  block->thread = &thread;
  block->request = &request;
  block->response = &response;
  block->server = Server;
  block->library = library;
  FillControlBlock(*block, documentRoot, pathInfo);
  InstallCallbacks(block->ecb);
  TECB::Register(block);

  bool failed = false;
  try {
    const DWORD result = extensionProc(&block->ecb);
    // An abandoned block stays live until the library ends the request.
    if (result == HSE_STATUS_PENDING && !WaitForCompletion(*block)) return;
    failed = result == HSE_STATUS_ERROR;
  } catch (...) {
    failed = true;
  }
  std::this_thread::sleep_for(kPauseAfterCall);
  // From here on the request, response and connection are the runner's alone.
  TECB::Retire(*block);
  if (failed) response.SetStatusCode(500);
  // The connection stays open only when the library asked for it.
  if (!block->keepAlive) response.SetCloseConnection(true);
  if (AfterExecute) AfterExecute(*this);
}

}  // namespace morlak
