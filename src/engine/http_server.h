// The HTTP server: each connection runs the loop request -> handler -> response, with the
// client's session attached. With KeepAlive set a connection carries requests until the
// client or the answer asks to close, it stays idle too long or it reaches the request cap;
// between requests it waits without a thread.
// TIdCustomHTTPServer is that HTTP listener, built on the TCP server.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/http_request_response.h"
#include "engine/http_sessions.h"
#include "engine/tcp_server.h"

namespace morlak {

// Whether the client lets its connection stay open after the answer: HTTP/1.1 unless it
// asks to "close", HTTP/1.0 only when it asks for "keep-alive".
bool ClientKeepsConnection(std::string_view protocolVersion, std::string_view connectionHeader);

class TIdCustomHTTPServer : public TIdTCPServer {
 public:
  TIdCustomHTTPServer();
  ~TIdCustomHTTPServer() override;

  bool ParseParams = true;
  bool KeepAlive = false;
  // How long a kept connection may wait for its next request (ms; 0: no limit).
  int KeepAliveTimeout = 5000;
  // Requests one connection carries at most; the last answer closes it.
  static constexpr int kMaxRequestsPerConnection = 1000;
  // Largest request body held in memory; a longer one closes the connection without an
  // answer. Bodies read into a stream supplied by OnCreatePostStream are not limited.
  int64_t MaxRequestBodyInMemory = int64_t{64} << 20;
  std::string ServerSoftware;  // the "Server" header when not blank

  bool SessionState() const { return sessionState_; }
  // Fails with "Cannot change session state when the server is active." while active.
  void SetSessionState(bool value);
  bool AutoStartSession = false;
  int SessionTimeOut = 0;  // ms; 0 switches sessions off at activation
  // Live sessions per client address and in all; see TIdHTTPDefaultSessionList.
  size_t MaxSessionsPerAddress = 1000;
  size_t MaxSessions = 100000;
  TIdHTTPDefaultSessionList& SessionList() { return sessions_; }

  // Starts a session for the request (none when sessions are off) and puts its cookie
  // on the response.
  std::shared_ptr<TIdHTTPSession> CreateSession(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                                                TIdHTTPResponseInfo& response);

  std::function<void(TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&)> OnCommandGet;
  // Methods other than GET, POST and HEAD: command, target, version. Nothing is answered.
  std::function<void(TIdPeerThread&, const std::string&, const std::string&, const std::string&)>
      OnCommandOther;
  // May supply the stream that receives the request body; it then stays in RequestBody.
  std::function<void(TIdPeerThread&, std::unique_ptr<TStream>&)> OnCreatePostStream;
  // May supply the session instead of a new one from the list.
  std::function<void(TIdPeerThread&, std::shared_ptr<TIdHTTPSession>&)> OnCreateSession;
  // A session cookie that names no live session from this address; clearing
  // continueProcessing skips the handler.
  std::function<void(TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&,
                     bool& continueProcessing, const std::string& invalidId)>
      OnInvalidSession;
  std::function<void(TIdHTTPSession&)> OnSessionStart;
  std::function<void(TIdHTTPSession&)> OnSessionEnd;

 protected:
  bool DoExecute(TIdPeerThread& thread) override;
  void Startup() override;
  // Stops the connections first, then ends every session, so no request can start a
  // session after the sweep.
  void Shutdown() override;

 private:
  // One request and its answer; returns whether the connection closes afterwards. Runs
  // only when input is there.
  bool ServeRequest(TIdPeerThread& thread);
  bool AttachSession(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                     TIdHTTPResponseInfo& response);
  void StopSessions();

  bool sessionState_ = false;
  TIdHTTPDefaultSessionList sessions_;
  std::unique_ptr<TIdHTTPSessionCleanerThread> cleaner_;
};

using TIdHTTPServer = TIdCustomHTTPServer;

}  // namespace morlak
