#include "update_server/update_server.h"

#include <algorithm>

#include "engine/tcp_server.h"
#include "platform/files.h"
#include "platform/stream.h"
#include "platform/text.h"

namespace morlak {

namespace {

constexpr char kHeaderWord[] = "MorlakUpdate";
constexpr int kRequestLineMs = 10000;
// A stalled connection is held until the client gives up, but not for ever.
constexpr int kStallMs = 10 * 60 * 1000;

// A name a client may fetch: one plain file name inside the folder.
bool PlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

// Ignores whatever arrives until the client closes (the read then throws), the server
// stops, or the client stays silent for kStallMs.
void Stall(TIdTCPConnection& connection) {
  do connection.ReadLine('\n', kStallMs);
  while (!connection.ReadLnTimedOut());
}

}  // namespace

struct UpdateServer::Request {
  std::string header, command, argument, peer;
};

UpdateServer::UpdateServer(UpdateServerOptions options)
    : options_(std::move(options)), server_(std::make_unique<TIdTCPServer>()) {
  options_.folder = IncludeTrailingSeparator(options_.folder);
}

UpdateServer::~UpdateServer() {
  Stop();
}

void UpdateServer::Start() {
  server_->Bindings = {{options_.bindIp, options_.port}};
  server_->OnExecute = [this](TIdPeerThread& thread) { Serve(thread.Connection()); };
  server_->SetActive(true);
}

void UpdateServer::Stop() {
  server_->SetActive(false);
}

int UpdateServer::Port() const {
  return server_->BoundPort();
}

void UpdateServer::Log(const std::string& text) {
  if (OnLog) OnLog(text);
}

void UpdateServer::Serve(TIdTCPServerConnection& connection) {
  if (options_.stallAt == "CONNECT") {
    Stall(connection);
  } else {
    Request request;
    request.peer = connection.PeerAddress() + ":" + std::to_string(connection.PeerPort());
    for (std::string* line : {&request.header, &request.command, &request.argument}) {
      *line = connection.ReadLine('\n', kRequestLineMs);
      if (connection.ReadLnTimedOut()) {
        Log(request.peer + " sent no complete request");
        connection.Close();
        return;
      }
    }
    Answer(connection, request);
  }
  // One question per connection: the answer ends where the connection does.
  connection.Close();
}

void UpdateServer::Answer(TIdTCPServerConnection& connection, const Request& request) {
  if (request.header != kHeaderWord)
    FirstLine(connection, request, "HDR");
  else if (request.command == "GETMESSAGE")
    SendMessage(connection, request);
  else if (request.command == "GETBUILD")
    SendBuild(connection, request);
  else if (request.command == "GETFILE")
    SendFile(connection, request);
  else
    FirstLine(connection, request, "UCM");
}

bool UpdateServer::FirstLine(TIdTCPServerConnection& connection, const Request& request,
                             const std::string& line) {
  const std::string& command = request.command;
  const std::string asked = request.peer + " " + command + " " + request.argument + " -> ";
  if (options_.stallAt == command) {
    Log(asked + "(silence)");
    Stall(connection);
    return false;
  }
  if (options_.longLineAt == command) {
    Log(asked + "(1 MB without a line end)");
    connection.WriteText(std::string(1 << 20, 'Y'));
    return false;
  }
  std::string reply = line;
  const std::string& replaced = command == "GETMESSAGE" ? options_.messageReply
                                : command == "GETBUILD" ? options_.buildReply
                                : command == "GETFILE"  ? options_.fileReply
                                                        : std::string();
  if (!replaced.empty()) reply = replaced;
  if (options_.closeEarlyAt == command) {
    Log(asked + "\"" + reply.substr(0, (reply.size() + 1) / 2) + "\" (closed)");
    connection.WriteText(reply.substr(0, (reply.size() + 1) / 2));
    return false;
  }
  Log(asked + reply);
  connection.WriteLine(reply);
  return reply == "YES";
}

void UpdateServer::SendMessage(TIdTCPServerConnection& connection, const Request& request) {
  const std::optional<std::string> text = ReadWholeFile(options_.folder + "message.txt");
  std::vector<std::string> lines = SplitLines(text.value_or(""));
  while (!lines.empty() && Trim(lines.back()).empty()) lines.pop_back();
  if (!FirstLine(connection, request, lines.empty() ? "NO" : "YES")) return;
  connection.BeginBatch();
  // An empty line ends the message, so a blank line inside it goes out as one space.
  for (const std::string& line : lines) connection.WriteLine(line.empty() ? " " : line);
  connection.WriteLine("");
  connection.EndBatch();
}

void UpdateServer::SendBuild(TIdTCPServerConnection& connection, const Request& request) {
  const std::optional<std::string> text = ReadWholeFile(options_.folder + "build.txt");
  if (!FirstLine(connection, request, text ? "YES" : "FNF")) return;
  const std::vector<std::string> lines = SplitLines(text.value_or(""));
  const std::string build = lines.empty() ? std::string() : Trim(lines.front());
  connection.WriteLine(options_.buildLine.empty() ? build : options_.buildLine);
}

void UpdateServer::SendFile(TIdTCPServerConnection& connection, const Request& request) {
  const std::string& name = request.argument;
  TOpenedPath opened;
  if (PlainFileName(name)) opened = TFileStream::OpenExisting(options_.folder + name);
  const bool readable = opened.kind == TOpenedPath::Kind::kFile && opened.file;
  const char* honest = readable ? "YES" : opened.kind == TOpenedPath::Kind::kFile ? "ERR" : "FNF";
  if (!FirstLine(connection, request, honest) || !readable) return;
  TFileStream& file = *opened.file;
  const int64_t size = file.Size();
  connection.WriteLine(options_.sizeLine.empty() ? std::to_string(size) : options_.sizeLine);
  int64_t count = std::max<int64_t>(0, size - options_.shortBy);
  const bool stall = options_.stallAt == "DATA";
  if (stall) count /= 2;
  if (count > 0) connection.WriteFromStream(file, true, count);
  if (stall) {
    Log(request.peer + " silent after " + std::to_string(count) + " bytes");
    Stall(connection);
    return;
  }
  if (options_.extraBytes > 0)
    connection.WriteBytes(std::string(static_cast<size_t>(options_.extraBytes), 'X').data(),
                          static_cast<size_t>(options_.extraBytes));
  Log(request.peer + " sent " + std::to_string(count + options_.extraBytes) + " of " +
      std::to_string(size) + " bytes");
}

}  // namespace morlak
