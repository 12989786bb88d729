// The control block's record as the library first sees it, and the server variables it
// can ask for afterwards.
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "engine/http_server.h"
#include "engine/http_sessions.h"
#include "gateways/extension_control_block.h"
#include "gateways/extension_runner.h"
#include "platform/files.h"
#include "platform/host_names.h"
#include "platform/socket.h"
#include "stores/case_insensitive_hash.h"

namespace morlak {

namespace {

enum class Var {
  kAuthType,
  kAuthUser,
  kAuthPass,
  kGateway,
  kQuery,
  kRemoteAddr,
  kRemoteHost,
  kMethod,
  kScriptName,
  kServerName,
  kServerPort,
  kServerAddr,
  kProtocol,
  kSoftware,
  kHeader,
  kHeaderOrDashed,
  kDocumentRoot,
  kAdmin,
  kRedirectStatus,
  kRedirectUrl,
  kSession,
  kPathInfo,
  kPathTranslated
};

struct VarRow {
  Var kind;
  const char* header;  // the request header read by kHeader and kHeaderOrDashed
};

const CaseInsensitiveMap<VarRow>& Table() {
  static const CaseInsensitiveMap<VarRow> table = {
      {"AUTH_TYPE", {Var::kAuthType, nullptr}},
      {"AUTH_NAME", {Var::kAuthUser, nullptr}},
      {"REMOTE_USER", {Var::kAuthUser, nullptr}},
      {"AUTH_PASS", {Var::kAuthPass, nullptr}},
      {"CONTENT_LENGTH", {Var::kHeader, "content-length"}},
      {"CONTENT_TYPE", {Var::kHeader, "content-type"}},
      {"GATEWAY_INTERFACE", {Var::kGateway, nullptr}},
      {"QUERY_STRING", {Var::kQuery, nullptr}},
      {"REMOTE_ADDR", {Var::kRemoteAddr, nullptr}},
      {"HTTP_CLIENT_IP", {Var::kRemoteAddr, nullptr}},
      {"REMOTE_HOST", {Var::kRemoteHost, nullptr}},
      {"REQUEST_METHOD", {Var::kMethod, nullptr}},
      {"SCRIPT_NAME", {Var::kScriptName, nullptr}},
      {"URL", {Var::kScriptName, nullptr}},
      {"SERVER_NAME", {Var::kServerName, nullptr}},
      {"SERVER_PORT", {Var::kServerPort, nullptr}},
      {"SERVER_ADDR", {Var::kServerAddr, nullptr}},
      {"SERVER_PROTOCOL", {Var::kProtocol, nullptr}},
      {"SERVER_SOFTWARE", {Var::kSoftware, nullptr}},
      {"HTTP_COOKIE", {Var::kHeader, "cookie"}},
      {"HTTP_USER_AGENT", {Var::kHeader, "User-Agent"}},
      {"HTTP_DATE", {Var::kHeader, "DATE"}},
      {"HTTP_ACCEPT", {Var::kHeader, "ACCEPT"}},
      {"HTTP_FROM", {Var::kHeader, "FROM"}},
      {"HTTP_HOST", {Var::kHeader, "HOST"}},
      {"HTTP_REFERER", {Var::kHeader, "REFERER"}},
      {"HTTP_CONTENT_ENCODING", {Var::kHeader, "CONTENT-ENCODING"}},
      {"HTTP_CONTENT_VERSION", {Var::kHeader, "CONTENT-VERSION"}},
      {"HTTP_DERIVED_FROM", {Var::kHeader, "DERIVED-FROM"}},
      {"HTTP_EXPIRES", {Var::kHeader, "EXPIRES"}},
      {"HTTP_TITLE", {Var::kHeader, "TITLE"}},
      {"HTTP_CONNECTION", {Var::kHeader, "CONNECTION"}},
      {"HTTP_AUTHORIZATION", {Var::kHeader, "AUTHORIZATION"}},
      {"HTTP_ACCEPT_LANGUAGE", {Var::kHeader, "ACCEPT-LANGUAGE"}},
      {"HTTP_ACCEPT_ENCODING", {Var::kHeader, "ACCEPT-ENCODING"}},
      {"HTTP_CACHE_CONTROL", {Var::kHeaderOrDashed, "CACHE_CONTROL"}},
      {"HTTP_IF_MODIFIED_SINCE", {Var::kHeaderOrDashed, "IF-MODIFIED-SINCE"}},
      {"DOCUMENT_ROOT", {Var::kDocumentRoot, nullptr}},
      {"SERVER_ADMIN", {Var::kAdmin, nullptr}},
      {"REDIRECT_STATUS", {Var::kRedirectStatus, nullptr}},
      {"HTTP_REDIRECT_STATUS", {Var::kRedirectStatus, nullptr}},
      {"REDIRECT_URL", {Var::kRedirectUrl, nullptr}},
      {"HTTP_IDSESSION", {Var::kSession, nullptr}},
      {"PATH_INFO", {Var::kPathInfo, nullptr}},
      {"PATH_TRANSLATED", {Var::kPathTranslated, nullptr}},
  };
  return table;
}

// The header's value; when empty, the value under the name with every "_" as "-".
std::string HeaderOrDashed(const TIdHTTPRequestInfo& request, std::string_view name) {
  std::string value = request.HeaderLines.Value(name);
  if (value.empty() && name.find('_') != std::string_view::npos)
    value = request.HeaderLines.Value(ReplaceAll(name, "_", "-"));
  return value;
}

SocketAddress LocalAddress(TECB& block) {
  SocketAddress local;
  SocketLocalAddress(block.thread->Connection().IOHandler().Binding().Handle(), local);
  return local;
}

}  // namespace

std::string MapUrlToPath(const std::string& documentRoot, const std::string& url) {
  std::string relative = ReplaceAll(url, "\\", "/");
  const size_t start = relative.find_first_not_of('/');
  relative.erase(0, start == std::string::npos ? relative.size() : start);
  return IncludeTrailingSeparator(ExpandFileName(documentRoot)) + relative;
}

void FillControlBlock(TECB& block, const std::string& documentRoot, const std::string& pathInfo) {
  TIdHTTPRequestInfo& request = *block.request;
  EXTENSION_CONTROL_BLOCK& ecb = block.ecb;
  std::memset(&ecb, 0, sizeof ecb);
  ecb.cbSize = sizeof(EXTENSION_CONTROL_BLOCK);
  ecb.dwVersion = HSE_MAKE_VERSION(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  std::strncpy(ecb.lpszLogData, "DEFAULT LOG DATA", HSE_LOG_BUFFER_LEN - 1);

  block.method = request.RequestMethod;
  const bool get = SameText(request.RequestMethod, "GET");
  if (get) block.queryString = request.ParamText;
  block.pathInfoText = pathInfo;
  block.pathTranslated = MapUrlToPath(documentRoot, request.DocumentPath);
  block.contentType = request.ContentType;
  ecb.lpszMethod = block.method.data();
  ecb.lpszQueryString = get ? block.queryString.data() : nullptr;
  ecb.lpszPathInfo = block.pathInfoText.data();
  ecb.lpszPathTranslated = block.pathTranslated.data();
  ecb.lpszContentType = block.contentType.data();
  if (SameText(request.RequestMethod, "POST") && request.ContentLength > 0) {
    // The body stays in the request, which outlives the call.
    const auto size = std::min<uint64_t>(request.FormText.size(), request.ContentLength);
    ecb.cbTotalBytes = ecb.cbAvailable = static_cast<DWORD>(size);
    ecb.lpbData = reinterpret_cast<BYTE*>(request.FormText.data());
  }
}

bool ServerVariable(TECB& block, const std::string& name, std::string& value) {
  TIdHTTPRequestInfo& request = *block.request;
  const auto& table = Table();
  const auto row = table.find(name);
  if (row == table.end()) {
    std::string_view rest = name;
    if (StartsText("HTTP_", rest)) rest.remove_prefix(5);
    value = HeaderOrDashed(request, rest);
    return !value.empty();
  }
  switch (row->second.kind) {
    case Var::kAuthType:
      value = "Basic";
      break;
    case Var::kAuthUser:
      value = request.AuthUser;
      break;
    case Var::kAuthPass:
      value = request.AuthPassword;
      break;
    case Var::kHeader:
      value = request.HeaderLines.Value(row->second.header);
      break;
    case Var::kHeaderOrDashed:
      value = HeaderOrDashed(request, row->second.header);
      break;
    case Var::kGateway:
      value = "ISAPI";
      break;
    case Var::kQuery:
      value = request.ParamText;
      break;
    case Var::kRemoteAddr:
      value = request.PeerAddress;
      break;
    case Var::kRemoteHost:
      value = HostNameOrAddress(request.PeerAddress, kHostNameWaitMs);
      break;
    case Var::kMethod:
      value = request.RequestMethod;
      break;
    case Var::kScriptName: {
      const size_t dll = UpperCase(request.DocumentPath).find(".DLL");
      value =
          dll == std::string::npos ? request.DocumentPath : request.DocumentPath.substr(0, dll + 4);
      break;
    }
    case Var::kServerName:
      value = request.Host;
      break;
    case Var::kServerPort:
      value = std::to_string(LocalAddress(block).port);
      break;
    case Var::kServerAddr:
      value = LocalAddress(block).ip;
      break;
    case Var::kProtocol:
      value = request.ProtocolVersion;
      break;
    case Var::kSoftware:
      value = block.server ? block.server->ServerSoftware : "";
      break;
    case Var::kDocumentRoot:
      value = block.documentRoot;
      break;
    case Var::kAdmin:
      value = block.serverAdmin;
      break;
    case Var::kRedirectStatus:
      value = "200";
      break;
    case Var::kRedirectUrl:
      value = request.DocumentPath;
      break;
    case Var::kSession:
      value.clear();
      if (request.Session) {
        std::lock_guard<TIdHTTPSession> guard(*request.Session);
        const std::vector<std::string> lines = request.Session->Variables.Lines();
        for (size_t i = 0; i < lines.size(); ++i) value.append(i ? "\r\n" : "").append(lines[i]);
      }
      break;
    // The same values the record carries, so a library sees one story either way.
    case Var::kPathInfo:
      value = block.pathInfoText;
      break;
    case Var::kPathTranslated:
      value = block.pathTranslated;
      break;
  }
  return true;
}

}  // namespace morlak
