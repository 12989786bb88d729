#include "engine/http_server.h"

#include <string>
#include <vector>

#include "engine/engine_errors.h"

namespace morlak {

namespace {

constexpr int kRequestLineLimit = 16384;
// The whole header block of one request, every received byte counted (line ends too);
// lines are limited one by one, this and the line count bound their total so that no
// client can fill the memory with headers.
constexpr uint64_t kHeaderBlockLimit = 1 << 20;
constexpr size_t kHeaderLineCountLimit = 1000;
constexpr char kBodyTooLarge[] = "Request body too large.";
constexpr const char* kSessionCookie = "IDHTTPSESSIONID";

// The request line and header lines of a thread's last request, handed to its next one with
// their room, so a request like the last one reads its header without allocating. Only a
// header of ordinary size is kept.
constexpr size_t kSpareHeaderLines = 32;
constexpr size_t kSpareLineRoom = 512;
struct SpareHeader {
  std::string requestLine;
  std::vector<std::string> lines;
};
thread_local SpareHeader t_spareHeader;

// Gives the request's header back to the thread when the request ends, however it ends.
struct HeaderReturn {
  TIdHTTPRequestInfo& request;
  ~HeaderReturn() {
    std::vector<std::string>& lines = request.HeaderLines.lines;
    if (lines.size() > kSpareHeaderLines || request.RequestLine.capacity() > kSpareLineRoom) return;
    for (const std::string& line : lines)
      if (line.capacity() > kSpareLineRoom) return;
    t_spareHeader.requestLine.swap(request.RequestLine);
    t_spareHeader.lines.swap(lines);
  }
};

// True when the comma-separated list holds the token, without regard to case.
bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (SameText(TrimView(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

bool ClientKeepsConnection(std::string_view protocolVersion, std::string_view connectionHeader) {
  if (protocolVersion == "HTTP/1.1") return !HasToken(connectionHeader, "close");
  return protocolVersion == "HTTP/1.0" && HasToken(connectionHeader, "keep-alive");
}

TIdCustomHTTPServer::TIdCustomHTTPServer() {
  DefaultPort = 80;
}

TIdCustomHTTPServer::~TIdCustomHTTPServer() {
  ShutdownAndWait();
}

void TIdCustomHTTPServer::SetSessionState(bool value) {
  if (Active()) throw EIdException("Cannot change session state when the server is active.");
  sessionState_ = value;
}

void TIdCustomHTTPServer::Startup() {
  if (SessionTimeOut == 0) sessionState_ = false;
  sessions_.SessionTimeout = SessionTimeOut;
  sessions_.MaxSessionsPerAddress = MaxSessionsPerAddress;
  sessions_.MaxSessions = MaxSessions;
  sessions_.OnSessionStart = OnSessionStart;
  sessions_.OnSessionEnd = OnSessionEnd;
  if (sessionState_) cleaner_ = std::make_unique<TIdHTTPSessionCleanerThread>(sessions_);
  try {
    TIdTCPServer::Startup();
  } catch (...) {
    StopSessions();
    throw;
  }
}

void TIdCustomHTTPServer::Shutdown() {
  TIdTCPServer::Shutdown();
  StopSessions();
}

void TIdCustomHTTPServer::StopSessions() {
  cleaner_.reset();
  sessions_.Clear();
}

bool TIdCustomHTTPServer::DoExecute(TIdPeerThread& thread) {
  TIdTCPServerConnection& connection = thread.Connection();
  const bool kept = thread.RequestCount > 0;
  if (!connection.InputPending(thread.InputJustArrived())) {
    // A new connection has the header bound to start its request, a kept one the idle bound.
    thread.WaitForInput(kept ? KeepAliveTimeout : HeaderTimeout);
    return true;
  }
  if (kept && connection.InputEnded()) {
    // The client ended a kept connection between two requests, as it may.
    connection.Close();
    return true;
  }
  try {
    if (ServeRequest(thread)) connection.Close();
  } catch (const EIdSocketError& e) {
    connection.Close();
    if (e.LastError() != kSocketConnectionReset) throw;
  } catch (const EIdClosedSocket&) {
    connection.Close();
  } catch (...) {
    connection.Close();
    throw;
  }
  return true;
}

bool TIdCustomHTTPServer::ServeRequest(TIdPeerThread& thread) {
  TIdTCPServerConnection& connection = thread.Connection();
  // A client that sends nothing, or drips its header, must not hold the thread for ever.
  connection.LimitReads(HeaderTimeout, 0);
  TIdHTTPRequestInfo request;
  request.RequestLine.swap(t_spareHeader.requestLine);
  request.HeaderLines.lines.swap(t_spareHeader.lines);
  const HeaderReturn headerReturn{request};
  request.RequestLine.assign(
      connection.ReadLineView('\n', TIdTCPConnection::kUseDefault, kRequestLineLimit));
  const std::string& line = request.RequestLine;
  const size_t lastBlank = line.rfind(' ');
  if (lastBlank == std::string::npos) throw EIdException("Error in parsing command.");
  const std::string_view head = std::string_view(line).substr(0, lastBlank);
  const size_t firstBlank = head.find(' ');
  const std::string command = UpperCase(head.substr(0, firstBlank));
  const std::string_view target =
      firstBlank == std::string_view::npos ? std::string_view() : head.substr(firstBlank + 1);

  if ((command != "GET" && command != "POST" && command != "HEAD") || !OnCommandGet) {
    if (OnCommandOther)
      OnCommandOther(thread, command, std::string(target), line.substr(lastBlank + 1));
    // Unanswered, and its body unread: the connection cannot go on.
    return true;
  }

  request.ProtocolVersion = line.substr(lastBlank + 1);
  request.PeerAddress = connection.PeerAddress();
  request.RequestMethod = command;

  // The lines of the thread's last request take the new ones where they can; room for what
  // a browser sends, so the list is not regrown line by line.
  std::vector<std::string>& lines = request.HeaderLines.lines;
  lines.reserve(16);
  size_t count = 0;
  const uint64_t headerStart = connection.BytesConsumed();
  for (;;) {
    std::string_view header =
        connection.ReadLineView('\n', TIdTCPConnection::kUseDefault, kRequestLineLimit);
    if (header.empty()) break;
    if (connection.BytesConsumed() - headerStart > kHeaderBlockLimit ||
        count >= kHeaderLineCountLimit) {
      lines.resize(count);
      throw EIdException("Request header too large.");
    }
    if (header.size() >= 2 && header[0] == '.' && header[1] == '.') header.remove_prefix(1);
    if (count < lines.size())
      lines[count].assign(header);
    else
      lines.emplace_back(header);
    ++count;
  }
  lines.resize(count);
  request.ProcessHeaders();
  ++thread.RequestCount;
  const bool http11 = request.ProtocolVersion == "HTTP/1.1";
  // HTTP/1.0 clients know no expectations.
  const std::string expect = http11 ? request.HeaderLines.Value("Expect") : std::string();
  if (!expect.empty() && !SameText(expect, "100-continue")) {
    TIdHTTPResponseInfo refusal(connection);
    refusal.SetStatusCode(417);
    refusal.SetStatusText("Expectation Failed");
    refusal.SetCloseConnection(true);
    if (!TrimView(ServerSoftware).empty()) refusal.Server = ServerSoftware;
    refusal.SendBody();
    return true;
  }

  std::unique_ptr<TStream> supplied;
  if (OnCreatePostStream) OnCreatePostStream(thread, supplied);
  TMemoryStream text;
  TStream& body = supplied ? *supplied : text;
  const int64_t limit = supplied ? -1 : MaxRequestBodyInMemory;
  if (limit >= 0 && request.ContentLength > limit) throw EIdException(kBodyTooLarge);
  // A body must keep moving, however long it is.
  connection.LimitReads(0, BodyGapTimeout, BodyRateGrace, BodyMinRate);
  const bool untilClose = command == "POST" && !request.HasContentLength();
  // The client waits for the go-ahead before it sends the body.
  if (!expect.empty() && (request.ContentLength > 0 || untilClose))
    connection.WriteText("HTTP/1.1 100 Continue\r\n\r\n");
  if (request.ContentLength > 0) {
    if (!supplied) text.Data().reserve(static_cast<size_t>(request.ContentLength));
    connection.ReadToStream(body, request.ContentLength, false);
  } else if (untilClose) {
    connection.ReadToStream(body, limit >= 0 ? limit + 1 : -1, true);
    if (limit >= 0 && body.Size() > limit) throw EIdException(kBodyTooLarge);
  }
  connection.LimitReads(0, 0);
  if (supplied) {
    request.RequestBody = std::move(supplied);
  } else {
    request.FormText = std::move(text.Data());
  }

  request.ProcessTarget(target, ParseParams);
  request.RequestCookies.AddFromRequestHeaders(request.HeaderLines);
  request.ProcessAuthorization();

  TIdHTTPResponseInfo response(connection);
  response.SetCloseConnection(!KeepAlive || untilClose ||
                              thread.RequestCount >= kMaxRequestsPerConnection ||
                              !ClientKeepsConnection(request.ProtocolVersion, request.Connection));
  const bool goOn = AttachSession(thread, request, response);
  if (!TrimView(ServerSoftware).empty()) response.Server = ServerSoftware;
  if (goOn) {
    try {
      OnCommandGet(thread, request, response);
    } catch (const EIdSocketError&) {
      throw;
    } catch (const std::exception& e) {
      response.SetStatusCode(500);
      response.BodyText = e.what();
    }
  }
  // A body after a HEAD answer would be taken for the next answer of a kept connection.
  if (command == "HEAD" && !response.HeaderSent() && response.HasBody())
    response.SetCloseConnection(true);
  response.SendRemaining();
  return response.CloseAfterResponse();
}

bool TIdCustomHTTPServer::AttachSession(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                                        TIdHTTPResponseInfo& response) {
  bool goOn = true;
  bool sawCookie = false;
  std::shared_ptr<TIdHTTPSession> session;
  if (sessionState_) {
    for (const TIdCookieRFC2109& cookie : request.RequestCookies.items) {
      if (session) break;
      if (!SameText(cookie.Name, kSessionCookie)) continue;
      sawCookie = true;
      session = sessions_.Find(cookie.Value, request.PeerAddress);
      if (!session && OnInvalidSession)
        OnInvalidSession(thread, request, response, goOn, cookie.Value);
    }
  }
  // A client that keeps its connection but no cookie stays in the session it was given on
  // this connection.
  if (sessionState_ && !session && !sawCookie && !thread.SessionId.empty())
    session = sessions_.Find(thread.SessionId, request.PeerAddress);
  if (AutoStartSession && goOn && !session) session = CreateSession(thread, request, response);
  if (session && thread.SessionId != session->SessionId()) thread.SessionId = session->SessionId();
  request.Session = session;
  response.Session = session;
  return goOn;
}

std::shared_ptr<TIdHTTPSession> TIdCustomHTTPServer::CreateSession(TIdPeerThread& thread,
                                                                   TIdHTTPRequestInfo& request,
                                                                   TIdHTTPResponseInfo& response) {
  if (!sessionState_) return nullptr;
  std::shared_ptr<TIdHTTPSession> session;
  if (OnCreateSession) OnCreateSession(thread, session);
  if (session)
    sessions_.Add(session);
  else
    session = sessions_.CreateUnique(request.PeerAddress);
  // The session id is the login: no page script reads it, no other site sends it, and one
  // set over TLS never travels in clear.
  TIdServerCookie cookie(kSessionCookie, session->SessionId());
  cookie.HttpOnly = true;
  cookie.SameSite = "Lax";
  cookie.Secure = IOHandler && IOHandler->IsTls();
  response.ResponseCookies.Add(std::move(cookie));
  request.Session = session;
  response.Session = session;
  return session;
}

}  // namespace morlak
