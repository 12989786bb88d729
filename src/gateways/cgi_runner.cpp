#include "gateways/cgi_runner.h"

#include <system_error>

#include "engine/http_request_response.h"
#include "engine/http_server.h"
#include "gateways/cgi_environment.h"
#include "gateways/cgi_output.h"
#include "platform/child_process.h"
#include "platform/host_names.h"
#include "platform/socket.h"

namespace morlak {

namespace {

// Header, status and body from what the program wrote. A header block goes out at once;
// the body follows when the handler returns.
void Answer(std::string output, TIdHTTPResponseInfo& response) {
  const TCgiOutputParts parts = SplitCgiOutput(output);
  if (!parts.hasHeaderBlock) {
    response.ContentType = "text/html";
    response.BodyText = std::move(output);
    return;
  }
  response.HeaderLines.lines = parts.headerLines;
  response.ContentType = response.HeaderLines.Value("Content-Type");
  response.SetStatusCode(CgiStatusCode(response.HeaderLines.Value("Status")));
  // The engine writes the Location field over the program's line; left empty, it would
  // delete that line and the redirect would go out without its target.
  const std::string location = response.HeaderLines.Value("Location");
  if (!location.empty()) {
    response.SetStatusCode(302);
    response.Location = location;
  }
  for (const std::string& line : parts.headerLines)
    if (IsSendableHeaderLine(line) && !IsFramingHeaderLine(line)) response.CustomHeaders.Add(line);
  response.SendHeader();
  output.erase(0, parts.bodyStart);
  response.BodyText = std::move(output);
}

}  // namespace

TidCGIRunner::TidCGIRunner() {
  ServerAdmin = "webmaster@localhost";
  PHPSupport = true;
}

void TidCGIRunner::Fail(TIdHTTPResponseInfo& response, const std::string& body) const {
  response.BodyText = body;
  response.ContentLength = static_cast<int64_t>(body.size());
  response.SetStatusCode(500);
}

void TidCGIRunner::Execute(const std::string& localPath, TIdPeerThread& thread,
                           TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                           const std::string& documentDirectory, const std::string& pathInfo) {
  Call call;
  Run(localPath, thread, request, response, documentDirectory, pathInfo, call);
}

int64_t TidCGIRunner::Run(const std::string& fileName, TIdPeerThread& thread,
                          TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                          const std::string& documentRoot, const std::string& pathInfo,
                          Call& call) {
  if (BeforeExecute) BeforeExecute(*this);
  TCgiCallValues values;
  values.hasServer = Server != nullptr;
  if (Server) values.serverSoftware = Server->ServerSoftware;
  values.fileName = fileName;
  values.page = call.page;
  values.documentRoot = documentRoot;
  values.pathInfo = pathInfo;
  SocketAddress local;
  if (SocketLocalAddress(thread.Connection().IOHandler().Binding().Handle(), local)) {
    values.localAddress = local.ip;
    values.localPort = local.port;
  }
  values.remoteHost = HostNameOrAddress(request.PeerAddress, RemoteHostTimeOut);
  values.phpSupport = PHPSupport;
  values.phpIniPath = PHPIniPath;
  values.serverAdmin = ServerAdmin;
  const std::vector<std::string> environment = BuildCgiEnvironment(request, values);

  ChildProcessRun run;
  run.program = fileName;
  run.environment = &environment;
  run.input = request.ParamText;
  run.timeoutMs = static_cast<int>(TimeOut);
  run.outputLimit = MaxOutput;
  ChildProcessResult result = RunChildProcess(run);

  using Outcome = ChildProcessResult::Outcome;
  switch (result.outcome) {
    case Outcome::kPipesNotReady:
      call.failure = "CGI pipes not set up (" + std::generic_category().message(result.error) + ")";
      Fail(response, ErrorMsg);
      break;
    case Outcome::kNotStarted:
      call.failure =
          "CGI program not started (" + std::generic_category().message(result.error) + ")";
      Fail(response, TimeOutMsg);
      break;
    case Outcome::kTimedOut:
      call.failure = "CGI program terminated after " + std::to_string(TimeOut) + " ms";
      Fail(response, TimeOutMsg);
      break;
    case Outcome::kOutputTooLarge:
      call.failure = "CGI program terminated: output over " + std::to_string(MaxOutput) + " bytes";
      Fail(response, TimeOutMsg);
      break;
    case Outcome::kFinished:
      // A crashed program's output is cut off at an unknown point: not an answer.
      if (result.killSignal != 0) {
        call.failure = "CGI program ended by signal " + std::to_string(result.killSignal);
        Fail(response, TimeOutMsg);
      } else {
        Answer(std::move(result.output), response);
      }
      break;
  }
  if (AfterExecute) AfterExecute(*this);
  return response.ContentLength;
}

}  // namespace morlak
