// A tiny server for load tests of the engine: "/file" streams the file named on the
// command line, every other path answers a 1 KiB text body.
//
//   engine_bench PORT FILE [SESSION_TIMEOUT_MS]
//
// With a session timeout, sessions are on and every cookie-less request starts one.
// Runs until standard input closes or a line is read from it. Port 0 lets the system pick
// one; the first line of output names it.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "engine/http_server.h"

using namespace morlak;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PORT FILE [SESSION_TIMEOUT_MS]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[2];
  const std::string body(1024, 'x');

  std::atomic<long> sessionsStarted{0}, sessionsEnded{0};
  TIdHTTPServer server;
  server.Bindings.push_back({"127.0.0.1", std::atoi(argv[1])});
  server.ServerSoftware = "engine_bench";
  if (argc > 3) {
    server.SessionTimeOut = std::atoi(argv[3]);
    server.SetSessionState(true);
    server.AutoStartSession = true;
    server.OnSessionStart = [&](TIdHTTPSession&) { ++sessionsStarted; };
    server.OnSessionEnd = [&](TIdHTTPSession&) { ++sessionsEnded; };
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
  if (argc > 3)
    std::printf("sessions started %ld, ended %ld\n", sessionsStarted.load(), sessionsEnded.load());
  return 0;
}
