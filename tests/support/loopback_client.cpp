#include "support/loopback_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/text.h"

namespace morlak::test_support {

std::string HttpReply::Header(const std::string& name) const {
  for (const auto& line : SplitLines(headerBlock)) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && SameText(line.substr(0, colon), name))
      return Trim(line.substr(colon + 1));
  }
  return "";
}

namespace {

int Connect(int port, const char* fromAddress) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  timeval timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (fromAddress) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, fromAddress, &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int fd, const std::string& request) {
  size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
}

void Split(HttpReply& reply) {
  const size_t end = reply.raw.find("\r\n\r\n");
  reply.headerBlock = reply.raw.substr(0, end);
  if (end != std::string::npos) reply.body = reply.raw.substr(end + 4);
  if (reply.raw.rfind("HTTP/1.1 ", 0) == 0) reply.status = std::atoi(reply.raw.c_str() + 9);
}

// One request on a fresh connection; reads until the peer closes, or only up to the end
// of the header block.
HttpReply Run(int port, const std::string& request, const char* fromAddress, bool headerOnly) {
  HttpReply reply;
  const int fd = Connect(port, fromAddress);
  if (fd < 0) return reply;
  reply.connected = true;
  SendAll(fd, request);
  char buf[65536];
  while (!headerOnly || reply.raw.find("\r\n\r\n") == std::string::npos) {
    const ssize_t n = ::recv(fd, buf, headerOnly ? 4096 : sizeof buf, 0);
    if (n <= 0) break;
    reply.raw.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  Split(reply);
  return reply;
}

}  // namespace

HttpReply Exchange(int port, const std::string& request, const char* fromAddress) {
  return Run(port, request, fromAddress, false);
}

HttpReply ExchangeHeaderOnly(int port, const std::string& request) {
  return Run(port, request, nullptr, true);
}

HttpReply Get(int port, const std::string& target, const std::string& extraHeaders,
              const std::string& method) {
  return Exchange(
      port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
}

}  // namespace morlak::test_support
