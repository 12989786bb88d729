// A small update server: answers the update dialog's questions from one folder, and can
// be told to misbehave so that every failure path of the client can be tried.
//
// The folder holds "message.txt" (lines shown to every client; missing or empty: no
// message), "build.txt" (the newest build number; missing: "FNF") and the files clients
// may fetch, "MorlakInstall.exe" among them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace morlak {

class TIdTCPServer;

struct UpdateServerOptions {
  std::string folder;
  std::string bindIp;  // empty: every local address
  int port = 4995;     // 0: a free port (see UpdateServer::Port)

  // Misbehaviour. Empty texts and zero counts mean "behave".
  std::string messageReply;  // first reply line to GETMESSAGE
  std::string buildReply;    // first reply line to GETBUILD ("NO", "HDR", "ERR", "FNF", "UCM")
  std::string fileReply;     // first reply line to GETFILE
  std::string buildLine;     // the build line sent after "YES"
  std::string sizeLine;      // the size line sent after "YES" ("ERR", "-1", "abc")
  int64_t shortBy = 0;       // close this many bytes before the end of the file
  int64_t extraBytes = 0;    // send this many bytes more than announced
  // A command ("GETMESSAGE", "GETBUILD", "GETFILE"; "CONNECT" for any connection before
  // its request, "DATA" for half-way through a file) at which the server goes silent,
  // keeping the connection open until the client gives up.
  std::string stallAt;
  std::string closeEarlyAt;  // the command whose first reply line is cut off mid-line
  std::string longLineAt;    // the command answered with 1 MB without a line end
};

class UpdateServer {
 public:
  explicit UpdateServer(UpdateServerOptions options);
  ~UpdateServer();  // stops
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  // Throws with the engine's message when the port cannot be bound.
  void Start();
  void Stop();
  int Port() const;

  // One line per answered request ("127.0.0.1:40000 GETBUILD morlak -> YES").
  std::function<void(const std::string&)> OnLog;

 private:
  struct Request;
  void Serve(class TIdTCPServerConnection& connection);
  void Answer(TIdTCPServerConnection& connection, const Request& request);
  void SendMessage(TIdTCPServerConnection& connection, const Request& request);
  void SendBuild(TIdTCPServerConnection& connection, const Request& request);
  void SendFile(TIdTCPServerConnection& connection, const Request& request);
  // Sends the first reply line, or what a misbehaviour puts in its place; true when it
  // was "YES" and the rest of the answer follows.
  bool FirstLine(TIdTCPServerConnection& connection, const Request& request,
                 const std::string& line);
  void Log(const std::string& text);

  UpdateServerOptions options_;
  std::unique_ptr<TIdTCPServer> server_;
};

}  // namespace morlak
