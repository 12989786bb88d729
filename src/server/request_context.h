// Who asked, over which listener: the values every request log line starts with.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>

#include "engine/io_handler.h"
#include "engine/tcp_server.h"

namespace morlak {

struct RequestContext {
  bool tls = false;
  std::string protocol;  // "HTTPS" on the TLS listener, else "HTTP"
  std::string clientAddress;
  std::string clientPort;
  std::string host;
  std::string user;

  static RequestContext Of(TIdPeerThread& thread) {
    RequestContext ctx;
    TIdTCPServerConnection& connection = thread.Connection();
    const auto& listener = connection.Server().IOHandler;
    ctx.tls = listener && listener->IsTls();
    ctx.protocol = ctx.tls ? "HTTPS" : "HTTP";
    ctx.clientAddress = connection.PeerAddress();
    ctx.clientPort = std::to_string(connection.PeerPort());
    return ctx;
  }

  // protocol://host> address:port, user
  std::string Prefix() const {
    std::string p;
    p.reserve(PrefixSize());
    AppendPrefix(p);
    return p;
  }
  // The prefix followed by the parts, built in the calling thread's own line, which its
  // next line reuses: a request's log line costs no allocation.
  const std::string& PrefixedLine(std::initializer_list<std::string_view> parts) const {
    thread_local std::string line;
    // Sized once and filled by copies, with no check for room per piece.
    const std::string_view prefix[] = {protocol, "://",      host, "> ", clientAddress,
                                       ":",      clientPort, ", ", user};
    size_t size = 0;
    for (const std::string_view piece : prefix) size += piece.size();
    for (const std::string_view part : parts) size += part.size();
    line.resize(size);
    char* at = line.data();
    for (const std::string_view piece : prefix) at = std::copy(piece.begin(), piece.end(), at);
    for (const std::string_view part : parts) at = std::copy(part.begin(), part.end(), at);
    return line;
  }
  size_t PrefixSize() const {
    return protocol.size() + host.size() + clientAddress.size() + clientPort.size() + user.size() +
           8;
  }
  void AppendPrefix(std::string& p) const {
    p.append(protocol).append("://").append(host).append("> ").append(clientAddress);
    p.append(":").append(clientPort).append(", ").append(user);
  }
};

}  // namespace morlak
