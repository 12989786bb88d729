#include "support/http_fetch.h"

#include <cstdlib>

#include "platform/text.h"
#include "support/socket_client.h"

namespace morlak::test_support {

namespace {

HttpReply Split(std::string raw) {
  HttpReply reply;
  reply.connected = true;
  reply.raw = std::move(raw);
  const size_t end = reply.raw.find("\r\n\r\n");
  reply.headerBlock = reply.raw.substr(0, end);
  if (end != std::string::npos) reply.body = reply.raw.substr(end + 4);
  if (reply.raw.rfind("HTTP/1.1 ", 0) == 0) reply.status = std::atoi(reply.raw.c_str() + 9);
  return reply;
}

}  // namespace

std::string HttpReply::Header(const std::string& name) const {
  for (const auto& line : SplitLines(headerBlock)) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && SameText(line.substr(0, colon), name))
      return Trim(line.substr(colon + 1));
  }
  return "";
}

HttpReply Fetch(int port, const std::string& request, const std::string& fromAddress) {
  LoopbackClient client(port, fromAddress);
  if (!client.Connected()) return HttpReply{};
  client.Send(request);
  return Split(client.ReadAll(10000));
}

HttpReply FetchHeaderOnly(int port, const std::string& request) {
  LoopbackClient client(port);
  if (!client.Connected()) return HttpReply{};
  client.Send(request);
  std::string raw;
  while (raw.find("\r\n\r\n") == std::string::npos) {
    const std::string part = client.ReadSome(10000);
    if (part.empty()) break;
    raw += part;
  }
  return Split(std::move(raw));
}

HttpReply Get(int port, const std::string& target, const std::string& extraHeaders,
              const std::string& method) {
  return Fetch(port,
               method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
}

}  // namespace morlak::test_support
