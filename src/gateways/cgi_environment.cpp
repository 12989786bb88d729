#include "gateways/cgi_environment.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "engine/http_request_response.h"
#include "platform/text.h"

namespace morlak {

namespace {

// Server variables handed on, read with the same length limit as the rest of the block.
constexpr size_t kOwnVariableLimit = 4096;

// Header values looked up under these names; an empty result is looked up again without
// a leading "HTTP_" and then with every "_" turned into "-".
constexpr const char* kLookedUpHeaders[][2] = {
    {"HTTP_DATE", "DATE"},
    {"HTTP_CACHE_CONTROL", "CACHE_CONTROL"},
    {"HTTP_ACCEPT", "ACCEPT"},
    {"HTTP_FROM", "FROM"},
    {"HTTP_HOST", "HOST"},
    {"HTTP_IF_MODIFIED_SINCE", "IF-MODIFIED-SINCE"},
    {"HTTP_REFERER", "REFERER"},
    {"HTTP_CONTENT_ENCODING", "CONTENT-ENCODING"},
    {"HTTP_CONTENT_VERSION", "CONTENT-VERSION"},
    {"HTTP_DERIVED_FROM", "DERIVED-FROM"},
    {"HTTP_EXPIRES", "EXPIRES"},
    {"HTTP_TITLE", "TITLE"},
    {"HTTP_CONNECTION", "CONNECTION"},
    {"HTTP_AUTHORIZATION", "AUTHORIZATION"},
    {"HTTP_ACCEPT_LANGUAGE", "ACCEPT-LANGUAGE"},
    {"HTTP_ACCEPT_ENCODING", "ACCEPT-ENCODING"},
};

std::string LookUpHeader(const TIdHeaderList& headers, std::string name) {
  std::string value = headers.Value(name);
  if (!value.empty()) return value;
  if (name.starts_with("HTTP_")) {
    name.erase(0, 5);
    value = headers.Value(name);
    if (!value.empty()) return value;
  }
  for (char& c : name)
    if (c == '_') c = '-';
  return headers.Value(name);
}

std::string OwnVariable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return {};
  std::string text(value);
  if (text.size() > kOwnVariableLimit) text.resize(kOwnVariableLimit);
  return text;
}

}  // namespace

std::string CutAfterExe(const std::string& documentPath) {
  const size_t p = FindText(documentPath, ".EXE");
  return p == std::string::npos ? documentPath : documentPath.substr(0, p + 4);
}

std::string TranslatePath(const std::string& documentRoot, const std::string& documentPath) {
  std::filesystem::path path(documentRoot + documentPath);
  if (path.is_relative()) {
    std::error_code ignored;
    path = std::filesystem::current_path(ignored) / path;
  }
  return path.lexically_normal().string();
}

std::vector<std::string> BuildCgiEnvironment(const TIdHTTPRequestInfo& request,
                                             const TCgiCallValues& call) {
  const TIdHeaderList& headers = request.HeaderLines;
  const std::string& documentPath = request.DocumentPath;
  const std::string scriptName = CutAfterExe(documentPath);
  const std::string contentType = headers.Value("Content-Type");
  const std::string contentLength = headers.Value("Content-Length");

  std::vector<std::string> env;
  env.reserve(48);
  auto add = [&env](std::string_view name, std::string_view value) {
    std::string entry;
    entry.reserve(name.size() + 1 + value.size());
    entry.append(name).append(1, '=').append(value);
    env.push_back(std::move(entry));
  };
  if (call.hasServer) add("SERVER_SOFTWARE", call.serverSoftware);
  add("HTTP_CONTENT_TYPE", contentType);
  add("CONTENT_TYPE", contentType);
  add("URL", scriptName);
  if (call.phpSupport) {
    add("PHPRC", call.phpIniPath);
    add("REDIRECT_STATUS", "200");
    add("HTTP_REDIRECT_STATUS", "200");
    add("REDIRECT_URL", documentPath);
  }
  add("CONTENT_LENGTH", contentLength);
  add("HTTP_CONTENT_LENGTH", contentLength);
  add("SERVER_NAME", request.Host);
  add("SERVER_PROTOCOL", request.ProtocolVersion);
  add("SERVER_PORT", std::to_string(call.localPort));
  add("GATEWAY_INTERFACE", "CGI/1.1");
  add("REQUEST_METHOD", request.RequestMethod);
  add("SCRIPT_NAME", scriptName);
  if (request.RequestMethod != "POST") add("QUERY_STRING", request.ParamText);
  add("REMOTE_ADDR", request.PeerAddress);
  add("REMOTE_HOST", call.remoteHost);
  for (const char* own : {"SystemRoot", "COMSPEC", "WINDIR", "PATH"}) add(own, OwnVariable(own));
  add("PATH_INFO", call.pathInfo.empty() ? documentPath : call.pathInfo);
  add("REQUEST_URI", documentPath);
  add("PATH_TRANSLATED", call.page.empty() ? TranslatePath(call.documentRoot, documentPath)
                                           : TranslatePath(call.page, ""));
  add("SCRIPT_FILENAME", call.page.empty() ? call.fileName : call.page);
  for (const auto& [variable, header] : kLookedUpHeaders)
    add(variable, LookUpHeader(headers, header));
  add("HTTP_USER_AGENT", headers.Value("User-Agent"));
  add("HTTP_COOKIE", headers.Value("cookie"));
  add("SERVER_ADDR", call.localAddress);
  add("DOCUMENT_ROOT", call.documentRoot);
  add("SERVER_ADMIN", call.serverAdmin);
  return env;
}

}  // namespace morlak
