// The four functions an extension library calls back into the server with. They take
// C pointers from code the server does not control: every pointer is checked, nothing is
// written past the sizes given, and no exception ever leaves through the library.
// Failures answer FALSE with errno set (ERANGE: buffer too small, EINVAL: bad argument).
#include <cerrno>
#include <cstring>
#include <mutex>

#include "engine/http_request_response.h"
#include "engine/http_sessions.h"
#include "engine/tcp_server.h"
#include "gateways/extension_control_block.h"
#include "gateways/extension_runner.h"
#include "platform/stream.h"

namespace morlak {

namespace {

BOOL Refuse(int error) {
  errno = error;
  return FALSE;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Copies a text with its terminator into a caller's buffer of *size bytes.
BOOL CopyOut(const std::string& value, LPVOID buffer, LPDWORD size) {
  const size_t needed = value.size() + 1;
  if (!buffer || *size < needed) {
    *size = static_cast<DWORD>(needed);
    return Refuse(ERANGE);
  }
  std::memcpy(buffer, value.c_str(), needed);
  *size = static_cast<DWORD>(needed);
  return TRUE;
}

void ApplyStatusCodeOfBlock(TECB& block) {
  const DWORD code = block.ecb.dwHttpStatusCode;
  if (code >= 100 && code <= 999) block.response->SetStatusCode(static_cast<int>(code));
}

// A header text from a library usually ends with the blank line; only line ends are cut,
// so a text without them keeps its last characters.
std::string HeaderTextOf(const char* text, size_t limit) {
  if (!text) return {};
  std::string header(text, strnlen(text, limit));
  while (!header.empty() && (header.back() == '\n' || header.back() == '\r')) header.pop_back();
  return header;
}

BOOL SendResponseHeaderEx(TECB& block, const HSE_SEND_HEADER_EX_INFO* info) {
  if (!info) return Refuse(EINVAL);
  TIdHTTPResponseInfo& response = *block.response;
  std::string status = info->pszStatus
                           ? std::string(info->pszStatus, strnlen(info->pszStatus, info->cchStatus))
                           : std::string();
  if (HasLineBreak(status)) return Refuse(EINVAL);
  ApplyStatusCodeOfBlock(block);
  // "404 Not Found" names its code as well as its phrase.
  int statusCode = 0;
  if (status.size() >= 3 && TryParseInt(std::string_view(status).substr(0, 3), statusCode) &&
      statusCode >= 100 && (status.size() == 3 || status[3] == ' ')) {
    response.SetStatusCode(statusCode);
    status = Trim(std::string_view(status).substr(3));
  } else {
    statusCode = 0;
  }
  if (info->fKeepConn) block.keepAlive = true;
  if (!ApplyHeaderText(response, HeaderTextOf(info->pszHeader, info->cchHeader)))
    return Refuse(EINVAL);
  if (!status.empty() && (statusCode == 0 || statusCode == response.StatusCode()))
    response.SetStatusText(status);
  return TRUE;
}

// Sends the answer so far and then the file's bytes from its position; the engine sends
// nothing more but what the library writes afterwards.
BOOL TransmitFile(TECB& block, LPVOID handle, LPDWORD size) {
  auto file = TFileStream::FromHandle(static_cast<int>(reinterpret_cast<intptr_t>(handle)));
  if (!file) return Refuse(EBADF);
  TIdHTTPResponseInfo& response = *block.response;
  TIdTCPConnection& connection = block.thread->Connection();
  std::string written;
  written.swap(response.BodyText);
  response.SetCloseConnection(true);
  if (!response.HeaderSent()) response.SendHeader();
  if (!written.empty()) connection.WriteText(written);
  connection.WriteFromStream(*file, false, size ? *size : 0);
  return TRUE;
}

// A block whose answer is made or whose client is gone takes no more calls.
bool Closed(const TECB& block) {
  return block.ended || block.abandoned;
}

BOOL HSE_CALL GetServerVariable(HCONN connId, LPSTR name, LPVOID buffer, LPDWORD size) {
  const std::shared_ptr<TECB> block = TECB::Find(connId);
  if (!block || !name || !size) return Refuse(EINVAL);
  try {
    std::lock_guard<std::mutex> lock(block->lock);
    if (Closed(*block)) return Refuse(ECONNRESET);
    std::string value;
    if (!ServerVariable(*block, name, value)) {
      if (buffer && *size > 0) *static_cast<char*>(buffer) = '\0';
      *size = 0;
      return Refuse(ENOENT);
    }
    return CopyOut(value, buffer, size);
  } catch (...) {
    *size = 0;
    return Refuse(EIO);
  }
}

// Runs `use` on the block behind `connId` under its lock. A bad call, a block whose client
// is gone, or a failure is refused with its error and a zero size.
template <typename Use>
BOOL WithLiveBlock(HCONN connId, LPVOID buffer, LPDWORD size, Use use) {
  const std::shared_ptr<TECB> block = TECB::Find(connId);
  if (!block || !size) return Refuse(EINVAL);
  if (!buffer && *size > 0) {
    *size = 0;
    return Refuse(EINVAL);
  }
  try {
    std::lock_guard<std::mutex> lock(block->lock);
    if (Closed(*block)) {
      *size = 0;
      return Refuse(ECONNRESET);
    }
    use(*block);
    return TRUE;
  } catch (...) {
    *size = 0;
    return Refuse(EIO);
  }
}

BOOL HSE_CALL WriteClient(HCONN connId, LPVOID buffer, LPDWORD size, DWORD) {
  return WithLiveBlock(connId, buffer, size, [&](TECB& block) {
    block.response->BodyText.append(static_cast<const char*>(buffer), *size);
  });
}

BOOL HSE_CALL ReadClient(HCONN connId, LPVOID buffer, LPDWORD size) {
  return WithLiveBlock(connId, buffer, size, [&](TECB& block) {
    // Whatever it reads past the body belongs to no next request any more.
    block.response->SetCloseConnection(true);
    block.thread->Connection().ReadExact(buffer, *size);
  });
}

BOOL SupportRequest(TECB& block, DWORD request, LPVOID buffer, LPDWORD size, LPDWORD dataType) {
  TIdHTTPResponseInfo& response = *block.response;
  const char* text = static_cast<const char*>(buffer);
  switch (request) {
    case HSE_REQ_SEND_URL_REDIRECT_RESP:
    case HSE_REQ_SEND_URL:
      // A line break would end the Location line and start header lines of the library's.
      if (!text || HasLineBreak(text)) return Refuse(EINVAL);
      response.SetStatusCode(302);
      response.Location = text;
      return TRUE;
    case HSE_REQ_SEND_RESPONSE_HEADER:
      ApplyStatusCodeOfBlock(block);
      if (!ApplyHeaderText(response,
                           HeaderTextOf(reinterpret_cast<const char*>(dataType), SIZE_MAX)))
        return Refuse(EINVAL);
      return TRUE;
    case HSE_REQ_MAP_URL_TO_PATH: {
      if (!text || !size) return Refuse(EINVAL);
      const std::string path = MapUrlToPath(block.documentRoot, text);
      if (*size < path.size() + 1) {
        *size = static_cast<DWORD>(path.size() + 1);  // what the caller must provide
        return Refuse(ERANGE);
      }
      std::memcpy(buffer, path.c_str(), path.size() + 1);
      *size = static_cast<DWORD>(path.size());
      return TRUE;
    }
    case HSE_APPEND_LOG_PARAMETER:
      if (text && block.runner->OnLogServerMessage)
        block.runner->OnLogServerMessage(*block.runner, *block.request, text, response);
      return TRUE;
    case HSE_REQ_TRANSMIT_FILE:
      return TransmitFile(block, buffer, size);
    case HSE_REQ_IS_KEEP_CONN:
      block.keepAlive = buffer != nullptr;
      return TRUE;
    case HSE_REQ_MAP_URL_TO_PATH_EX: {
      auto* info = reinterpret_cast<HSE_URL_MAPEX_INFO*>(dataType);
      if (!text || !info) return Refuse(EINVAL);
      const std::string path = MapUrlToPath(block.documentRoot, text);
      const size_t n = std::min<size_t>(path.size(), HSE_MAX_PATH - 1);
      std::memcpy(info->lpszPath, path.data(), n);
      info->lpszPath[n] = '\0';
      return TRUE;
    }
    case HSE_REQ_ABORTIVE_CLOSE:
      block.thread->Connection().Close();
      return TRUE;
    case HSE_REQ_SEND_RESPONSE_HEADER_EX:
      return SendResponseHeaderEx(block, static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer));
    case HSE_REQ_SET_SESSION_VARIABLES:
      if (text && block.request->Session) {
        std::lock_guard<TIdHTTPSession> guard(*block.request->Session);
        block.request->Session->Variables.SetLines(SplitLines(text));
      }
      return TRUE;
    default:
      return Refuse(EINVAL);
  }
}

BOOL HSE_CALL ServerSupportFunction(HCONN connId, DWORD request, LPVOID buffer, LPDWORD size,
                                    LPDWORD dataType) {
  const std::shared_ptr<TECB> block = TECB::Find(connId);
  if (!block) return Refuse(EINVAL);
  std::unique_lock<std::mutex> lock(block->lock);
  if (request == HSE_REQ_DONE_WITH_SESSION && !block->ended) {
    block->done = true;
    if (block->abandoned) {
      // Nobody waits any more: the library was the last to use the block.
      lock.unlock();
      TECB::Retire(*block);
      return FALSE;
    }
    block->signal.notify_all();
    return FALSE;
  }
  if (Closed(*block)) return Refuse(ECONNRESET);
  try {
    return SupportRequest(*block, request, buffer, size, dataType);
  } catch (...) {
    return Refuse(EIO);
  }
}

}  // namespace

void InstallCallbacks(EXTENSION_CONTROL_BLOCK& ecb) {
  ecb.GetServerVariable = &GetServerVariable;
  ecb.WriteClient = &WriteClient;
  ecb.ReadClient = &ReadClient;
  ecb.ServerSupportFunction = &ServerSupportFunction;
}

}  // namespace morlak
