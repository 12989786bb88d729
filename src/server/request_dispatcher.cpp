// The listeners' event handlers: connection refusal, session bookkeeping and the
// request dispatcher that picks exactly one answer for every request.
#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "platform/files.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "server/path_and_text_helpers.h"
#include "server/request_context.h"
#include "server/server_core.h"

namespace morlak {

namespace {

const char kNoSessionBody[] = "<html><body><b>Failed to Create Session</b></body></html>";

// The eight variables a new session starts with, in their order. `laterBytes` are the
// values the request goes on to set (host, document and template folders): the room is
// exactly what the list then holds, so it is allocated once and needs no shrinking.
void InitSessionVariables(TPackedStringList& vars, const std::string& address,
                          const std::string& port, size_t laterBytes) {
  char startText[kFloatGeneralSize];
  const std::string_view start(startText, FormatFloatGeneral(Now(), startText));
  // The names with their "=" and the user "Anonymous".
  constexpr size_t kFixedBytes = 69;
  vars.Reserve(kFixedBytes + address.size() + port.size() + start.size() + laterBytes, 8);
  // The list is empty, so each line is appended without a search; "name=" lines included.
  vars.AddPair("ip", address);
  vars.AddPair("port", port);
  vars.AddPair("username", "Anonymous");
  vars.AddPair("password", "");
  vars.AddPair("docdir", "");
  vars.AddPair("templatedir", "");
  vars.AddPair("starttime", start);
  vars.AddPair("host", "");
}

bool ContainsAlias(const std::string& documentPath, const std::string& alias) {
  return !alias.empty() && documentPath.find(alias) != std::string::npos;
}

// A PHP compiler that is a library runs as an extension library, any other as a program.
// Only the file's own extension counts: a folder named "x.sources" makes no library.
bool IsLibraryFile(const std::string& path) {
  const std::string_view extension = ExtractFileExtView(path);
  return extension == ".dll" || extension == ".so";
}

std::string ParamLinesWithCrLf(const TStringList& params) {
  std::string out;
  for (const auto& line : params.lines) out += line + "\r\n";
  return out;
}

}  // namespace

void ServerCore::IdHTTPServer1Connect(TIdPeerThread& thread) {
  statistics_.AddConnections(1);
  const std::string address = thread.Connection().PeerAddress();
  if (settings_.IsBannedAddress(address)) {
    LogWindow("- " + address + " connection refused (banned)");
    throw std::runtime_error("IP " + address + " is on banned IPs list!");
  }
  // Read per connection, so a limit applied in the settings holds from the next one on.
  thread.Connection().LimitRates(settings_.GetReadSpeed(), settings_.GetWriteSpeed());
}

void ServerCore::IdHTTPServer1SessionStart(TIdHTTPSession& session) {
  statistics_.AddSessions(1);
  const int live = ClientCount.fetch_add(1) + 1;
  for (int peak = sessionPeak_.load(); live > peak;)
    if (sessionPeak_.compare_exchange_weak(peak, live)) break;
  members_.AddActiveUser(session.SessionId(), session.ClientAddress());
}

void ServerCore::IdHTTPServer1SessionEnd(TIdHTTPSession& session) {
  ClientCount.fetch_sub(1);
  // A session ended early by a cap takes its row along instead of leaving it to the prune.
  members_.RemoveActiveUser(session.SessionId());
}

void ServerCore::IdHTTPServer1InvalidSession(TIdPeerThread&, TIdHTTPRequestInfo&,
                                             TIdHTTPResponseInfo&, bool& continueProcessing,
                                             const std::string&) {
  continueProcessing = true;
}

void ServerCore::IdHTTPServer1CommandGet(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                                         TIdHTTPResponseInfo& response) {
  RequestContext ctx = RequestContext::Of(thread);
  bool loginAttempt = false, logout = false, runCgi = false, runIsapi = false;
  std::string pathInfo;

  const std::shared_ptr<TIdHTTPSession> session = request.Session;
  if (!session) {
    response.BodyText = kNoSessionBody;
    response.ContentType = "text/html";
    LogWindowAndFile(ctx.protocol + "://> " + ctx.clientAddress + ":" + ctx.clientPort +
                     "> failed to create session");
    return;
  }

  // One snapshot for the whole request: its values are read in place, and a change made
  // meanwhile applies from the next request on.
  const std::shared_ptr<const SettingsSnapshot> snapshot = settings_.Current();
  const SettingsSnapshot& settings = *snapshot;
  const SettingsValues& values = settings.Values();
  std::string target(settings.ResolveRedirect(request.DocumentPath));
  // The folder is the setting's own text unless a member home or an alias replaces it.
  std::string_view documentDirectory = values.homeDirectory;
  std::string ownDirectory;
  std::string password;
  bool ok = false;
  {
    std::lock_guard<TIdHTTPSession> guard(*session);
    TPackedStringList& vars = session->Variables;
    const bool newSession = vars.Empty();
    if (newSession)
      InitSessionVariables(vars, ctx.clientAddress, ctx.clientPort,
                           std::min(request.Host.size(), kSessionTextLimit) +
                               values.homeDirectory.size() + values.templateDirectory.size());
    if (!request.ParamList.Empty()) {
      const std::string action = request.ParamList.Value("action");
      if (SameText(action, "login")) {
        const std::string user = request.ParamList.Value("user");
        const std::string pass = request.ParamList.Value("pass");
        if (!user.empty() || !pass.empty()) {
          vars.SetValue("username", std::string_view(user).substr(0, kSessionTextLimit));
          vars.SetValue("password", std::string_view(pass).substr(0, kSessionTextLimit));
          loginAttempt = true;
        }
      }
      if (SameText(action, "logout")) {
        vars.SetValue("username", "");
        vars.SetValue("password", "");
        logout = true;
      }
    }
    ctx.user = vars.Value("username");
    if (ctx.user.empty()) {
      ctx.user = "Anonymous";
      vars.SetValue("username", ctx.user);
      vars.SetValue("password", "");
    }
    password = vars.Value("password");
    ctx.host = request.Host.substr(0, kSessionTextLimit);

    ok = members_.MemberLogin(ctx.clientAddress, ctx.user, password, target);
    if (ok) {
      std::string home = members_.GetMemberHome(ctx.user);
      if (!home.empty()) {
        ownDirectory = std::move(home);
        documentDirectory = ownDirectory;
        frontEnd_.Synchronize([this] { frontEnd_.RefreshMemberList(); });
      }
    }

    if (!ok) {
      std::string aliasDirectory;
      if ((values.enableRootAliases && rootAliases_.FindRootAlias(target, aliasDirectory) &&
           !aliasDirectory.empty()) ||
          (values.enableDomainAliases && domainAliases_.FindDomainAlias(ctx.host, aliasDirectory) &&
           !aliasDirectory.empty())) {
        ownDirectory = std::move(aliasDirectory);
        documentDirectory = ownDirectory;
      }
    }
    // A kept session's values seldom change: one walk tells, and then nothing is rewritten.
    // Nothing above reads them, and they are set in their usual order.
    const std::string_view templateDirectory = values.templateDirectory;
    const bool unchanged = ok ? vars.HoldsAll({{"host", ctx.host},
                                               {"docdir", documentDirectory},
                                               {"templatedir", templateDirectory}})
                              : vars.HoldsAll({{"host", ctx.host},
                                               {"username", "Anonymous"},
                                               {"password", ""},
                                               {"docdir", documentDirectory},
                                               {"templatedir", templateDirectory}});
    if (!unchanged) {
      vars.SetValue("host", ctx.host);
      if (!ok) {
        vars.SetValue("username", "Anonymous");
        vars.SetValue("password", "");
      }
      vars.SetValue("docdir", documentDirectory);
      vars.SetValue("templatedir", templateDirectory);
    }
    // The session may live for minutes with what its first request set.
    if (newSession) vars.ShrinkToFit();
  }
  // Only the answers other than a file log a line of their own here.
  const auto prefix = [&ctx] { return ctx.Prefix(); };

  if (!documentDirectory.empty() && documentDirectory.back() != kPathSeparator) {
    if (documentDirectory.data() != ownDirectory.data()) ownDirectory = documentDirectory;
    ownDirectory += kPathSeparator;
    documentDirectory = ownDirectory;
  }
  std::string localPath = LocalPathUnder(documentDirectory, target);
  members_.TouchActiveUser(session->SessionId(), ctx.clientAddress, ctx.user, password, localPath);

  // The file is opened once here and handed to the responder; whenever the local path
  // changes, only its existence is looked up again.
  TOpenedPath found = TFileStream::OpenExisting(localPath);
  if (found.kind == TOpenedPath::Kind::kFolder) {
    const auto& defaults = settings.DefaultFiles();
    if (!defaults.empty()) {
      // The path is local already; turning it into a relative one again would lose the
      // root of an absolute path.
      localPath = CollapseBackslashes(AddTrailingBackslash(localPath) + defaults[0]);
      found = TFileStream::OpenExisting(localPath);
    }
  }
  bool fileExists = found.kind == TOpenedPath::Kind::kFile;
  auto pathChanged = [&] {
    found.file.reset();
    fileExists = FileExists(localPath);
  };

  std::string phpPage;  // the page a PHP compiler runs
  if (settings.IsPhpExtension(ExtractFileExtView(localPath))) {
    phpPage = localPath;
    if (!values.phpCompiler.empty()) {
      localPath = values.phpCompiler;
      pathChanged();
    } else {
      LogWindow(prefix() + "> no PHP compiler specified (" + localPath + ")");
    }
  }

  const std::string& documentPath = request.DocumentPath;
  if (values.enableCgiApplications) {
    runCgi = ContainsAlias(documentPath, values.cgiAlias) ||
             (settings.IsPhpCompiler(localPath) && !IsLibraryFile(localPath));
  } else if (values.enableIsapiLibraries) {
    const bool candidate = ContainsAlias(documentPath, values.isapiAlias) ||
                           (settings.IsPhpCompiler(localPath) && IsLibraryFile(localPath));
    const size_t dll = documentPath.find(".dll");
    if (candidate && dll != std::string::npos) {
      runIsapi = true;
      localPath =
          LocalPathUnder(documentDirectory, std::string_view(documentPath).substr(0, dll + 4));
      pathInfo = documentPath.substr(dll + 4);
      pathChanged();
    }
  }

  // Any ".." under the document folder is refused, whatever its encoding was.
  // The local path was collapsed, so it is compared with the collapsed folder: a folder
  // setting holding a doubled separator must not let ".." through.
  auto climbsOut = [&](const std::string& path) {
    if (path.find("..") == std::string::npos) return false;
    const std::string collapsedDirectory = CollapseBackslashes(std::string(documentDirectory));
    return SameText(std::string_view(path).substr(0, collapsedDirectory.size()),
                    collapsedDirectory);
  };
  const bool refused = climbsOut(localPath) ||
                       // A library is never handed a way out of the document folder.
                       (runIsapi && pathInfo.find("..") != std::string::npos) ||
                       // The PHP compiler is handed the page, so the page must pass too.
                       climbsOut(phpPage);
  // A PHP page that no gateway runs is never served as a file: neither its source text
  // nor the compiler standing in its place.
  const bool phpNotRun = !phpPage.empty() && !runCgi && !runIsapi;

  if (refused) {
    LogWindowAndFile(prefix() + "> unauthorized to " + (phpPage.empty() ? localPath : phpPage));
    SendUnauthorizedPage(thread, request, ctx.user, ctx.clientAddress, response);
  } else if (loginAttempt) {
    if (ok) {
      LogWindowAndFile(ctx.PrefixedLine({"> logged in succesfully (", documentDirectory, ")"}));
      SendLoginOkPage(thread, request, ctx.user, ctx.clientAddress, response);
    } else {
      LogWindowAndFile(prefix() + "> login failed");
      SendLoginFailedPage(thread, request, ctx.user, ctx.clientAddress, response);
      std::lock_guard<TIdHTTPSession> guard(*session);
      session->Variables.SetValue("username", "Anonymous");
      session->Variables.SetValue("password", "");
    }
  } else if (logout) {
    LogWindowAndFile(prefix() + "> logged out succesfully");
    SendLogoutOkPage(thread, request, ctx.user, ctx.clientAddress, response);
  } else if (runCgi && (ctx.tls ? idCGIRunner2 : idCGIRunner1)) {
    // A PHP page run as a program of its own (no compiler) is no page of a compiler.
    TidCGIRunner::Call call{localPath != phpPage ? phpPage : std::string(), {}};
    (ctx.tls ? idCGIRunner2 : idCGIRunner1)
        ->Run(localPath, thread, request, response, std::string(documentDirectory), "", call);
    LogWindowAndFile(prefix() + "> exec CGI \"" + localPath + "\", params=\"" +
                     DelimitedText(request.ParamList.lines) + "\"");
    if (!call.failure.empty()) LogWindowAndFile(prefix() + "> " + call.failure);
  } else if (runIsapi && (ctx.tls ? idISAPIRunner2 : idISAPIRunner1)) {
    (ctx.tls ? idISAPIRunner2 : idISAPIRunner1)
        ->Execute(localPath, thread, request, response, std::string(documentDirectory), pathInfo);
    LogWindowAndFile(prefix() + "> exec ISAPI \"" + localPath + "\", action=\"" + pathInfo +
                     "\", params=\"" + ParamLinesWithCrLf(request.ParamList) + "\"");
  } else if (phpNotRun) {
    LogWindowAndFile(prefix() + "> PHP is not set up to run " + phpPage);
    SendNotFoundPage(thread, request, ctx.user, ctx.clientAddress, response);
  } else if (fileExists) {
    ServeFile(thread, request, localPath, ctx.user, ctx.clientAddress, response,
              std::move(found.file));
  } else {
    LogWindowAndFile(ctx.PrefixedLine({"> file not found ", localPath}));
    SendNotFoundPage(thread, request, ctx.user, ctx.clientAddress, response);
  }
}

}  // namespace morlak
