// Test extension library: the request's path information picks what it does, and it
// writes what it saw, so the tests can check the server's side of every call.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "gateways/extension_interface.h"

namespace {

int counter = 0;  // rises while the library stays loaded

void Write(EXTENSION_CONTROL_BLOCK* ecb, const std::string& text) {
  DWORD size = static_cast<DWORD>(text.size());
  ecb->WriteClient(ecb->ConnID, const_cast<char*>(text.data()), &size, 0);
}

std::string Text(const char* text) {
  return text ? text : "(none)";
}

// "ok,size,erange" of one variable read into a buffer of `capacity` bytes (or none).
std::string Probe(EXTENSION_CONTROL_BLOCK* ecb, const std::string& name, DWORD capacity,
                  bool nullBuffer = false) {
  char buffer[4096] = "untouched";
  DWORD size = capacity;
  errno = 0;
  const BOOL ok = ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(name.c_str()),
                                         nullBuffer ? nullptr : buffer, &size);
  const int error = errno;
  std::string out = std::to_string(ok);
  out.append(",").append(std::to_string(size)).append(",");
  out.append(error == ERANGE ? "ERANGE" : "-");
  if (ok) out.append(",").append(buffer);
  return out;
}

BOOL Support(EXTENSION_CONTROL_BLOCK* ecb, DWORD code, const void* buffer, DWORD* size = nullptr,
             const void* dataType = nullptr) {
  return ecb->ServerSupportFunction(ecb->ConnID, code, const_cast<void*>(buffer), size,
                                    reinterpret_cast<LPDWORD>(const_cast<void*>(dataType)));
}

void BadInput(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string out;
  out += "long=" + Probe(ecb, "HTTP_" + std::string(10000, 'A'), 4096) + "\n";
  out += "zero=" + Probe(ecb, "REQUEST_METHOD", 0) + "\n";
  out += "null=" + Probe(ecb, "REQUEST_METHOD", 100, true) + "\n";
  out += "exact=" + Probe(ecb, "REQUEST_METHOD", 4) + "\n";  // "GET" and its terminator
  char small[4];
  std::strcpy(small, "/x");
  DWORD size = sizeof small;
  errno = 0;
  const BOOL mapped = Support(ecb, HSE_REQ_MAP_URL_TO_PATH, small, &size);
  out += "map=" + std::to_string(mapped) + "," + (errno == ERANGE ? "ERANGE" : "-") + "," +
         (size > sizeof small ? "needed" : "short") + "\n";
  out += "redirect=" +
         std::to_string(Support(ecb, HSE_REQ_SEND_URL_REDIRECT_RESP, "/x\r\nSet-Cookie: evil=1")) +
         "\n";
  char noLineEnd[] = "Content-type: text/plain";
  out += "header=" +
         std::to_string(Support(ecb, HSE_REQ_SEND_RESPONSE_HEADER, nullptr, nullptr, noLineEnd)) +
         "\n";
  char badDate[] = "Pragma: no-cache\r\nLast-Modified: 01/02/26 03:04:05\r\nDate: garbage\r\n";
  out += "baddate=" +
         std::to_string(Support(ecb, HSE_REQ_SEND_RESPONSE_HEADER, nullptr, nullptr, badDate)) +
         "\n";
  out += "unknown=" + std::to_string(Support(ecb, 9999, nullptr)) + "\n";
  DWORD five = 5;
  const BOOL wroteNull = ecb->WriteClient(ecb->ConnID, nullptr, &five, 0);
  out += "writenull=" + std::to_string(wroteNull) + "," + std::to_string(five) + "\n";
  // A ConnID that is no control block (zeroed memory as large as one).
  static char stray[1024];
  out += "stray=" + std::to_string(ecb->WriteClient(stray, out.data(), &five, 0)) + "\n";
  Write(ecb, out);
}

}  // namespace

extern "C" BOOL GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_MAKE_VERSION(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  std::strcpy(version->lpszExtensionDesc, "probe");
  return TRUE;
}

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  const std::string action = Text(ecb->lpszPathInfo);
  if (action == "/echo") {
    std::string data = ecb->lpbData
                           ? std::string(reinterpret_cast<char*>(ecb->lpbData), ecb->cbAvailable)
                           : "(none)";
    Write(ecb, "method=" + Text(ecb->lpszMethod) + "|query=" + Text(ecb->lpszQueryString) +
                   "|total=" + std::to_string(ecb->cbTotalBytes) +
                   "|avail=" + std::to_string(ecb->cbAvailable) + "|data=" + data +
                   "|type=" + Text(ecb->lpszContentType) +
                   "|size=" + std::to_string(ecb->cbSize == sizeof *ecb) +
                   "|log=" + ecb->lpszLogData + "|translated=" + Text(ecb->lpszPathTranslated));
  } else if (action == "/var") {
    Write(ecb, Probe(ecb, Text(ecb->lpszQueryString), 4096));
  } else if (action == "/keep") {
    Support(ecb, HSE_REQ_IS_KEEP_CONN, reinterpret_cast<void*>(1));
    Write(ecb, "kept");
  } else if (action == "/counter") {
    Write(ecb, std::to_string(++counter));
  } else if (action == "/header") {
    ecb->dwHttpStatusCode = 200;
    char header[] =
        "Location: /moved\r\nContent-type: text/plain\r\nX-Other: dropped\r\n"
        "Set-Cookie: k=v; path=/p\r\n\r\n";
    Support(ecb, HSE_REQ_SEND_RESPONSE_HEADER, nullptr, nullptr, header);
    Write(ecb, "body");
  } else if (action == "/headerex") {
    HSE_SEND_HEADER_EX_INFO info{};
    info.pszStatus = "404 Gone away";
    info.cchStatus = static_cast<DWORD>(std::strlen(info.pszStatus));
    info.pszHeader = "Content-type: text/plain\r\n\r\n";
    info.cchHeader = static_cast<DWORD>(std::strlen(info.pszHeader));
    Support(ecb, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info);
    Write(ecb, "gone");
  } else if (action == "/redirect") {
    Support(ecb, HSE_REQ_SEND_URL_REDIRECT_RESP, "/target");
  } else if (action == "/throw") {
    Write(ecb, "partial");
    throw std::runtime_error("inside the library");
  } else if (action == "/fail") {
    Write(ecb, "partial");
    return HSE_STATUS_ERROR;
  } else if (action == "/pending") {
    std::thread([ecb] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      Write(ecb, "late");
      Support(ecb, HSE_REQ_DONE_WITH_SESSION, nullptr);
    }).detach();
    return HSE_STATUS_PENDING;
  } else if (action == "/pending-forever") {
    return HSE_STATUS_PENDING;
  } else if (action == "/bad") {
    BadInput(ecb);
  } else if (action == "/session") {
    Support(ecb, HSE_REQ_SET_SESSION_VARIABLES, "a=1\r\nb=2");
    Write(ecb, Probe(ecb, "HTTP_IDSESSION", 4096));
  } else if (action == "/map") {
    char path[512] = "/sub/file.txt";
    DWORD size = sizeof path;
    Support(ecb, HSE_REQ_MAP_URL_TO_PATH, path, &size);
    HSE_URL_MAPEX_INFO info{};
    Support(ecb, HSE_REQ_MAP_URL_TO_PATH_EX, "/other", nullptr, &info);
    Write(ecb, std::string(path) + "|" + info.lpszPath);
  } else if (action == "/transmit") {
    char path[512] = "/data.txt";
    DWORD size = sizeof path;
    Support(ecb, HSE_REQ_MAP_URL_TO_PATH, path, &size);
    const int fd = ::open(path, O_RDONLY);
    Write(ecb, "head:");
    DWORD count = 0;
    Support(ecb, HSE_REQ_TRANSMIT_FILE, reinterpret_cast<void*>(static_cast<intptr_t>(fd)), &count);
    ::close(fd);
    Write(ecb, ":tail");
  } else if (action == "/close") {
    Write(ecb, "never sent");
    Support(ecb, HSE_REQ_ABORTIVE_CLOSE, nullptr);
  } else {
    Write(ecb, "probe" + action);
  }
  return HSE_STATUS_SUCCESS;
}
