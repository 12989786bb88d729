// Sample extension library: a small HTML page listing the server variables the request
// was given. Built beside the executable as http/public/cgi-bin/serverinfo.dll, so the
// default site reaches it at /cgi-bin/serverinfo.dll when extension libraries are on.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "gateways/extension_interface.h"

namespace {

const char* const kNames[] = {
    "REQUEST_METHOD",  "QUERY_STRING",    "SCRIPT_NAME",  "PATH_INFO",       "PATH_TRANSLATED",
    "REMOTE_ADDR",     "REMOTE_HOST",     "SERVER_NAME",  "SERVER_PORT",     "SERVER_ADDR",
    "SERVER_PROTOCOL", "SERVER_SOFTWARE", "SERVER_ADMIN", "DOCUMENT_ROOT",   "GATEWAY_INTERFACE",
    "CONTENT_TYPE",    "CONTENT_LENGTH",  "HTTP_HOST",    "HTTP_USER_AGENT", "HTTP_ACCEPT",
    "HTTP_COOKIE",     "HTTP_IDSESSION"};

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        break;
      case '\n':
        out += "<br>";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name) {
  std::vector<char> buffer(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(name), buffer.data(), &size))
      return std::string(buffer.data());
    if (errno != ERANGE) return std::string();
    buffer.resize(size);
  }
  return std::string();
}

}  // namespace

extern "C" BOOL GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_MAKE_VERSION(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  std::strncpy(version->lpszExtensionDesc, "Server variables page", HSE_MAX_EXT_DLL_NAME_LEN - 1);
  return TRUE;
}

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  char header[] = "Content-type: text/html\r\n\r\n";
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, nullptr, nullptr,
                             reinterpret_cast<LPDWORD>(header));
  std::string page =
      "<html><head><title>Server variables</title></head><body>\r\n"
      "<h1>Server variables</h1>\r\n<table border=\"1\">\r\n";
  for (const char* name : kNames)
    page += "<tr><td>" + std::string(name) + "</td><td>" + Escaped(Variable(ecb, name)) +
            "</td></tr>\r\n";
  page += "</table>\r\n<p>Request body: " + std::to_string(ecb->cbTotalBytes) +
          " bytes</p>\r\n</body></html>\r\n";
  DWORD size = static_cast<DWORD>(page.size());
  ecb->WriteClient(ecb->ConnID, page.data(), &size, 0);
  return HSE_STATUS_SUCCESS;
}
