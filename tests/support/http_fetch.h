// One HTTP request over a fresh loopback connection, with the answer split into status,
// headers and body.
#pragma once

#include <string>

namespace morlak::test_support {

struct HttpReply {
  bool connected = false;
  std::string raw;  // every byte the server sent
  int status = 0;
  std::string headerBlock;  // status line and headers, without the blank line
  std::string body;

  // Value of the first header with that name (case ignored), "" if absent.
  std::string Header(const std::string& name) const;
};

// Sends `request` as given to 127.0.0.1:port (from `fromAddress`, a 127.x.y.z address,
// when given) and reads until the peer closes.
HttpReply Fetch(int port, const std::string& request, const std::string& fromAddress = "");
// Reads only the status line and headers, then closes.
HttpReply FetchHeaderOnly(int port, const std::string& request);

// "<method> <target> HTTP/1.1" with a Host header and extra header lines (each ending CR LF).
HttpReply Get(int port, const std::string& target, const std::string& extraHeaders = "",
              const std::string& method = "GET");

}  // namespace morlak::test_support
