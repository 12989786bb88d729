// Who asked, over which listener: the values every request log line starts with.
#pragma once

#include <string>

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
    p.reserve(protocol.size() + host.size() + clientAddress.size() + user.size() + 16);
    p.append(protocol).append("://").append(host).append("> ").append(clientAddress);
    p.append(":").append(clientPort).append(", ").append(user);
    return p;
  }
};

}  // namespace morlak
