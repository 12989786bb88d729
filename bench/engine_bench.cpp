// A tiny server for load tests of the engine: "/file" streams the file named on the
// command line, every other path answers a 1 KiB text body.
//
//   engine_bench PORT FILE [SESSION_TIMEOUT_MS]
//
// With a session timeout, sessions are on and every cookie-less request starts one.
// Runs until standard input closes or a line is read from it.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "engine/IdCustomHTTPServer.h"

using namespace morlak;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PORT FILE [SESSION_TIMEOUT_MS]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[2];
  const std::string body(1024, 'x');

  TIdHTTPServer server;
  server.Bindings.push_back({"127.0.0.1", std::atoi(argv[1])});
  server.ServerSoftware = "engine_bench";
  if (argc > 3) {
    server.SessionTimeOut = std::atoi(argv[3]);
    server.SetSessionState(true);
    server.AutoStartSession = true;
  }
  server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& request,
                            TIdHTTPResponseInfo& response) {
    if (request.DocumentPath == "/file") {
      response.ContentType = "application/octet-stream";
      response.BodyStream = std::make_unique<TFileStream>(file, TFileStream::Mode::kRead);
    } else {
      response.BodyText = body;
    }
  };
  try {
    server.SetActive(true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("listening on 127.0.0.1:%d\n", server.BoundPort());
  std::fflush(stdout);
  std::string line;
  std::getline(std::cin, line);
  server.SetActive(false);
  std::printf("sessions left after stop: %zu\n", server.SessionList().Count());
  return 0;
}
