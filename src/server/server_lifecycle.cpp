// Start-up, listener start and stop, and the saves at exit.
#include <algorithm>
#include <exception>

#include "engine/engine_errors.h"
#include "gateways/extension_runner.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/heap_tuning.h"
#include "platform/port_rights.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "server/server_core.h"
#include "server/version.h"

namespace morlak {

namespace {

// Deactivation waits TerminateWaitTime per attempt; after this many failures the stop
// gives up instead of hanging the exit forever on a stuck connection.
constexpr int kStopAttempts = 12;

}  // namespace

ServerCore::ServerCore(FrontEnd& frontEnd, CoreOptions options)
    : frontEnd_(frontEnd),
      options_(std::move(options)),
      IdServerIOHandlerSSL1(std::make_shared<TIdServerIOHandlerSSL>()),
      BuildNumber(kBuildNumber) {
  IdServerIOHandlerSSL1->OnGetPassword = [this](std::string& p) {
    IdServerIOHandlerSSL1GetPassword(p);
  };
  IdServerIOHandlerSSL1->OnVerifyPeer = [this](TIdX509& c) {
    return IdServerIOHandlerSSL1VerifyPeer(c);
  };
  // The status texts are not wanted, so OnStatusInfo stays unassigned: OpenSSL then
  // skips the callback at every state change of every handshake.
  IdHTTPServer2.IOHandler = IdServerIOHandlerSSL1;
  IdHTTPServer2.DefaultPort = 443;
  IdHTTPServer2.MaxConnectionReply.Text = {
      "Error: Maximum connection count exceeded. Please try again later."};
  WireHandlers(IdHTTPServer1);
  WireHandlers(IdHTTPServer2);
  idCGIRunner1 = std::make_unique<TidCGIRunner>();
  idCGIRunner1->Server = &IdHTTPServer1;
  idCGIRunner2 = std::make_unique<TidCGIRunner>();
  idCGIRunner2->Server = &IdHTTPServer2;
  idISAPIRunner1 = MakeISAPIRunner(IdHTTPServer1);
  idISAPIRunner2 = MakeISAPIRunner(IdHTTPServer2);
  logFile_.SetLoadOnStartup(true);
  // A log file that cannot be written costs its line only, but the user should know.
  logFile_.SetOnError([this](TOzm_logfile&, const std::string& text) { Log("- " + text, false); });
}

ServerCore::~ServerCore() {
  // Listeners must be down before the stores their threads use go away.
  try {
    if (IdHTTPServer1.Active()) IdHTTPServer1.SetActive(false);
    if (IdHTTPServer2.Active()) IdHTTPServer2.SetActive(false);
  } catch (const std::exception&) {
  }
}

std::unique_ptr<TGatewayRunner> ServerCore::MakeISAPIRunner(TIdHTTPServer& server) {
  auto runner = std::make_unique<TidISAPIRunner>(&server);
  // The client sees only the 404; the reason the library did not load is for the owner.
  runner->OnModuleNotFound = [this](TidISAPIRunner&, const std::string& fileName,
                                    const std::string& reason) {
    LogWindow("- extension library " + fileName + " not loaded: " + reason);
  };
  return runner;
}

void ServerCore::WireHandlers(TIdHTTPServer& server) {
  server.OnConnect = [this](TIdPeerThread& t) { IdHTTPServer1Connect(t); };
  server.OnSessionStart = [this](TIdHTTPSession& s) { IdHTTPServer1SessionStart(s); };
  server.OnSessionEnd = [this](TIdHTTPSession& s) { IdHTTPServer1SessionEnd(s); };
  server.OnInvalidSession = [this](TIdPeerThread& t, TIdHTTPRequestInfo& rq,
                                   TIdHTTPResponseInfo& rs, bool& go, const std::string& id) {
    IdHTTPServer1InvalidSession(t, rq, rs, go, id);
  };
  server.OnCommandGet = [this](TIdPeerThread& t, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    IdHTTPServer1CommandGet(t, rq, rs);
  };
}

void ServerCore::Log(const std::string& text, bool toFile) {
  TOzm_logfile* file = toFile ? &logFile_ : nullptr;
  // Nearly every line is clean and goes as it is.
  if (HasControlCharacter(text))
    frontEnd_.PostLog(EscapeControlCharacters(text), file);
  else
    frontEnd_.PostLog(text, file);
}

void ServerCore::LogWindow(const std::string& text) {
  Log(text, false);
}

void ServerCore::LogWindowAndFile(const std::string& text) {
  Log(text, settings_.GetLogToFile());
}

void ServerCore::Startup(std::optional<bool> startListeners) {
  const std::string& folder = options_.programFolder;
  LogWindow("- Running from [" + folder + "]");
  // Saves cut short by a killed process leave their temporary files behind.
  RemoveStaleTemporaryFiles(folder);
  branding_ = ReadBranding(folder, [this](const std::string& message) {
    frontEnd_.Synchronize([&] { frontEnd_.ShowMessage(message); });
  });
  statistics_.LoadStatistics(folder);

  members_.ClearActiveUsers();
  members_.ClearMembers();
  if (members_.LoadMembers(folder)) {
    LogWindow("- HTTP member file loaded");
    frontEnd_.Synchronize([this] { frontEnd_.RefreshMemberList(); });
  } else {
    LogWindow("- failed to load HTTP member file");
  }

  monitored_.ClearMonitoredFiles();
  if (monitored_.LoadMonitoredFiles(folder)) {
    LogWindow("- HTTP monitored files list loaded");
    frontEnd_.Synchronize([this] { frontEnd_.RefreshMonitoredFileList(); });
  } else {
    LogWindow("- failed to load HTTP monitored files list");
  }

  const bool freshFolder = !FileExists(folder + ServerSettings::kSettingsFileName);
  settings_.InitSettingsDefaults(folder);
  settings_.LoadSettings();
  if (freshFolder) AvoidPortsNeedingRights();
  if (settings_.GetMainPath() != folder) RemoveStaleTemporaryFiles(settings_.GetMainPath());
  rootAliases_.LoadRootAliases(settings_.GetMainPath());
  domainAliases_.LoadDomainAliases(settings_.GetMainPath());

  // The line count first: the load that the name starts reads only what is kept.
  logFile_.SetMaxLines(settings_.GetLogToFileLines());
  logFile_.SetFilename(settings_.GetLogFileName());

  if (startListeners.value_or(settings_.GetStartOnStartup())) StartServers();
}

void ServerCore::AvoidPortsNeedingRights() {
  SettingsValues values = settings_.Get();
  const SettingsValues before = values;
  if (!MayListenOnPort(values.httpPort)) values.httpPort = kUserHttpPort;
  if (!MayListenOnPort(values.httpsPort)) values.httpsPort = kUserHttpsPort;
  if (values == before) return;
  settings_.Set(values);
  LogWindow("- Ports below 1024 need administrator rights, so this new program folder uses port " +
            std::to_string(values.httpPort) + " for HTTP and " + std::to_string(values.httpsPort) +
            " for HTTPS (Settings, General)");
}

void ServerCore::IdServerIOHandlerSSL1GetPassword(std::string& password) {
  password = settings_.GetCertPassword();
}

bool ServerCore::IdServerIOHandlerSSL1VerifyPeer(TIdX509& certificate) {
  bool result = true;
  if (settings_.GetCertCheckPeer()) {
    // An empty subject matches nothing, so it refuses every peer.
    const std::string subject = settings_.GetCertSubject();
    result = !subject.empty() && certificate.SubjectLine().find(subject) != std::string::npos;
  }
  if (settings_.GetCertCheckValid()) {
    const TDateTime now = Now();
    if (!(now > certificate.ValidFrom() && now < certificate.ValidUntil())) result = false;
  }
  return result;
}

CertificateResult ServerCore::MakeCertificate(bool overwrite) {
  // It saves the settings, which an import has replaced on disk.
  if (dataFilesFrozen_) return {false, "no certificate made: restart Morlak after the import"};
  CertificateResult result =
      MakeSelfSignedCertificate(settings_, options_.programFolder, overwrite);
  LogWindow("- " + result.message);
  return result;
}

bool ServerCore::StartListener(TIdHTTPServer& server, bool tls) {
  server.AutoStartSession = true;
  server.SetSessionState(true);
  server.ServerSoftware =
      settings_.GetServerName() + (tls ? " (hsb" : " (Morlak") + std::to_string(BuildNumber) + ")";
  server.MaxConnections = settings_.GetMaxConnections();
  server.DefaultPort = tls ? options_.httpsPort.value_or(settings_.GetHttpsPort())
                           : options_.httpPort.value_or(settings_.GetHttpPort());
  server.SessionTimeOut = settings_.GetSessionTimeout();
  server.MaxSessions = static_cast<size_t>(std::max(settings_.GetMaxSessions(), 0));
  server.KeepAlive = settings_.GetKeepAlive();
  server.KeepAliveTimeout = settings_.GetKeepAliveTimeout() * 1000;
  auto& cgi = tls ? idCGIRunner2 : idCGIRunner1;
  auto& isapi = tls ? idISAPIRunner2 : idISAPIRunner1;
  if (isapi) isapi->ServerAdmin = settings_.GetAdminEmail();
  if (cgi) {
    cgi->ServerAdmin = settings_.GetAdminEmail();
    cgi->PHPSupport = true;
    cgi->PHPIniPath = settings_.GetPhpIniPath();
  }
  try {
    server.SetActive(true);
  } catch (const std::exception& e) {
    LogWindow(tls ? "- Failed to start HTTPS server" : "- Failed to start HTTP server");
    // Which file, pass phrase or port is wrong is what the user needs to know to mend it.
    LogWindow("- " + ReplaceAll(e.what(), "\r\n", " "));
    const auto* socketError = dynamic_cast<const EIdSocketError*>(&e);
    if (socketError && socketError->LastError() == kSocketAccessDenied &&
        !MayListenOnPort(server.DefaultPort))
      LogWindow(LowPortAdvice(server.DefaultPort, tls));
    return false;
  }
  ServerStartTime = Now();
  ClientCount = 0;
  statistics_.ResetStatistics();
  return true;
}

std::string ServerCore::LowPortAdvice(int port, bool tls) {
  return "- Port " + std::to_string(port) +
         " needs administrator rights: choose a port above 1023 (Settings, General, \"" +
         (tls ? "Default port for https (443):\", or --https-port"
              : "Default port (80):\", or --http-port") +
         ") or give this program the right to use it: " +
         LowPortPermissionCommand(ExecutablePath());
}

void ServerCore::StartServers() {
  for (TGatewayRunner* runner : std::initializer_list<TGatewayRunner*>{
           idCGIRunner1.get(), idCGIRunner2.get(), idISAPIRunner1.get(), idISAPIRunner2.get()})
    if (runner) runner->ServerAdmin = settings_.GetAdminEmail();

  if (!IdHTTPServer2.Active() && settings_.GetCertHttps()) {
    TIdSSLOptions& tls = IdServerIOHandlerSSL1->SSLOptions;
    tls.RootCertFile = settings_.GetCertRoot();
    tls.CertFile = settings_.GetCertCert();
    tls.KeyFile = settings_.GetCertKey();
    tls.Method = settings_.GetCertSsl() ? TIdSSLVersion::sslvSSLv23 : TIdSSLVersion::sslvTLSv1;
    // OpenSSL ignores fail-if-no-certificate unless it asks for one, so checking validity
    // asks for the client's certificate too.
    tls.VerifyMode = (settings_.GetCertCheckPeer() ? sslvrfPeer : 0) |
                     (settings_.GetCertCheckValid() ? sslvrfPeer | sslvrfFailIfNoPeerCert : 0);
    if (tls.RootCertFile.empty() || tls.CertFile.empty() || tls.KeyFile.empty()) {
      LogWindow(
          "- HTTPS server startup cancelled, check that all certification files are available");
    } else if (StartListener(IdHTTPServer2, true)) {
      LogWindow("- HTTPS server started (port=" + std::to_string(IdHTTPServer2.BoundPort()) + ")");
    }
  }

  if (!IdHTTPServer1.Active() && settings_.GetCertHttp() && StartListener(IdHTTPServer1, false))
    LogWindow("- HTTP server started (port=" + std::to_string(IdHTTPServer1.BoundPort()) + ")");
}

void ServerCore::StopListener(TIdHTTPServer& server, const char* stoppedLine,
                              const char* failedLine) {
  if (!server.Active()) return;
  for (int attempt = 0; attempt < kStopAttempts && server.Active(); ++attempt) {
    try {
      server.SetActive(false);
      LogWindow(stoppedLine);
    } catch (const std::exception&) {
      LogWindow(failedLine);
    }
  }
  ServerStartTime = 0;
}

void ServerCore::StopServers() {
  StopListener(IdHTTPServer2, "- HTTPS server stopped", "- failed to stop HTTPS server");
  StopListener(IdHTTPServer1, "- HTTP server stopped", "- Failed to stop HTTP server");
}

void ServerCore::Tick() {
  if (ClientCount.load() < 1)
    members_.ClearActiveUsers();
  else
    members_.PruneActiveUsers(IdHTTPServer1.SessionTimeOut);
  ReleaseHeapAfterLoad();
}

void ServerCore::ReleaseHeapAfterLoad() {
  // A burst of cookie-less requests leaves a session and an active-user row per request
  // for the session timeout; once they end, their pages are free but stay with the
  // process. Giving them back costs a walk over the heap, so it is done only when the
  // live sessions have halved since their peak (or are all gone), never in a steady load.
  int peak = sessionPeak_.load();
  const int live = std::max(ClientCount.load(), 0);
  if (peak == 0 || live > peak / 2) return;
  ReleaseFreeHeap();
  sessionPeak_.compare_exchange_strong(peak, live);
}

void ServerCore::FreezeDataFiles() {
  if (dataFilesFrozen_.exchange(true)) return;
  LogWindow("- Import under way: this instance saves no data file from now on");
}

bool ServerCore::SaveStores() {
  if (dataFilesFrozen_) return false;
  SaveSettingsAndAliases();
  SaveTables();
  return true;
}

void ServerCore::SaveSettingsAndAliases() {
  if (!settings_.SaveSettings()) frontEnd_.ShowMessage("Failed to save applied settings.");
  rootAliases_.SaveRootAliases(settings_.GetMainPath());
  domainAliases_.SaveDomainAliases(settings_.GetMainPath());
}

void ServerCore::SaveTables() {
  const std::string& folder = options_.programFolder;
  if (!members_.SaveMembers(folder)) frontEnd_.ShowMessage("Error writing http members file");
  if (!monitored_.SaveMonitoredFiles(folder))
    frontEnd_.ShowMessage("Error writing http monitored files list");
  if (!statistics_.SaveStatistics(folder)) LogWindow("- failed to save statistics");
}

void ServerCore::SaveMonitoredFiles() {
  if (!dataFilesFrozen_ && !monitored_.SaveMonitoredFiles(options_.programFolder))
    LogWindow("- failed to save HTTP monitored files list");
}

void ServerCore::Shutdown() {
  // The settings dialog saves first at exit, then the listeners stop, then the tables.
  if (!dataFilesFrozen_) SaveSettingsAndAliases();
  StopServers();
  if (!dataFilesFrozen_) SaveTables();
}

}  // namespace morlak
