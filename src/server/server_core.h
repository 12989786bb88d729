// The server core: the two listeners, the stores, the log, the request handlers and the
// start/stop/save life of the program. A front end (console or window) owns one core.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/http_server.h"
#include "engine/tls_io_handler.h"
#include "gateways/cgi_runner.h"
#include "gateways/gateway_runner.h"
#include "platform/datetime.h"
#include "platform/stream.h"
#include "server/branding.h"
#include "server/front_end.h"
#include "server/log_file.h"
#include "server/self_signed_certificate.h"
#include "stores/domain_aliases.h"
#include "stores/members.h"
#include "stores/monitored_files.h"
#include "stores/root_aliases.h"
#include "stores/server_settings.h"
#include "stores/statistics.h"

namespace morlak {

struct CoreOptions {
  std::string programFolder;    // ends with the separator (ChooseProgramFolder)
  std::optional<int> httpPort;  // replaces the setting for this run only
  std::optional<int> httpsPort;
  // The command line after the program's name, so a restart runs with the same options.
  std::vector<std::string> arguments;
};

class ServerCore {
  // Declared before the listeners, so they are destroyed after them: no connection thread
  // can outlive what it uses.
  FrontEnd& frontEnd_;
  CoreOptions options_;
  ServerSettings settings_;
  MembersStore members_;
  RootAliasStore rootAliases_;
  DomainAliasStore domainAliases_;
  Statistics statistics_;
  MonitoredFiles monitored_;
  TOzm_logfile logFile_;
  Branding branding_;
  // Live sessions at their peak since the heap was last given back.
  std::atomic<int> sessionPeak_{0};
  std::atomic<bool> dataFilesFrozen_{false};

 public:
  ServerCore(FrontEnd& frontEnd, CoreOptions options);
  ~ServerCore();
  ServerCore(const ServerCore&) = delete;
  ServerCore& operator=(const ServerCore&) = delete;

  // Loads every store in start-up order with its log lines; starts the listeners when
  // the settings say so and `startListeners` is not given as false.
  void Startup(std::optional<bool> startListeners = std::nullopt);
  void StartServers();
  void StopServers();
  // Saves the settings and both alias tables, stops the listeners, then saves members,
  // monitored files and statistics; once the data files are frozen it only stops.
  void Shutdown();
  // Every store to its file, as at exit (the export takes the files from disk); false
  // when the data files are frozen.
  bool SaveStores();
  // The monitored-file table to its file, as every change of it does; a failure is logged.
  void SaveMonitoredFiles();
  // An import is about to replace the data files: from now on this instance writes none
  // of them again on any path (list refresh, Apply, exit, signal), so the next instance
  // reads what was imported. Logged once.
  void FreezeDataFiles();
  bool DataFilesFrozen() const { return dataFilesFrozen_; }

  // The periodic housekeeping of the main window's timer (every 2000 ms): active users
  // idle past the session timeout are pruned, and all go when no session is open.
  void Tick();
  // Gives free heap back to the system once the live sessions have halved since their
  // peak or have all ended; part of Tick, and of any other periodic housekeeping.
  void ReleaseHeapAfterLoad();

  // Log lines from any thread: to the window, or to the window and the log file.
  void LogWindow(const std::string& text);
  void LogWindowAndFile(const std::string& text);

  const std::string& ProgramFolder() const { return options_.programFolder; }
  const std::vector<std::string>& Arguments() const { return options_.arguments; }
  ServerSettings& Settings() { return settings_; }
  MembersStore& Members() { return members_; }
  RootAliasStore& RootAliases() { return rootAliases_; }
  DomainAliasStore& DomainAliases() { return domainAliases_; }
  Statistics& Stats() { return statistics_; }
  MonitoredFiles& Monitored() { return monitored_; }
  TOzm_logfile& LogFile() { return logFile_; }
  FrontEnd& Front() { return frontEnd_; }
  // The branding container read at start-up, for the window's captions and About page.
  const Branding& GetBranding() const { return branding_; }

  // Writes a self-signed certificate and its key into the program folder and points the
  // certificate settings at them (see MakeSelfSignedCertificate); logs and returns the
  // outcome. Takes effect at the next start of the HTTPS listener.
  CertificateResult MakeCertificate(bool overwrite);

  // Gateways per listener; empty until a runner is installed.
  std::unique_ptr<TidCGIRunner> idCGIRunner1, idCGIRunner2;
  std::unique_ptr<TGatewayRunner> idISAPIRunner1, idISAPIRunner2;
  // The listeners: plain HTTP and HTTPS, whose transport is the TLS handler. Declared
  // after everything their threads use.
  TIdHTTPServer IdHTTPServer1;
  TIdHTTPServer IdHTTPServer2;
  const std::shared_ptr<TIdServerIOHandlerSSL> IdServerIOHandlerSSL1;

  std::atomic<TDateTime> ServerStartTime{0};
  std::atomic<int> ClientCount{0};
  const int BuildNumber;

  // The file responder, also used for the response-page templates (`templatePage`: no
  // validators, no ranges). `opened` is the file at the local path when the caller has
  // opened it already; without it the path is opened here.
  void ServeFile(TIdPeerThread& thread, TIdHTTPRequestInfo& request, const std::string& localPath,
                 const std::string& user, const std::string& clientAddress,
                 TIdHTTPResponseInfo& response, std::optional<TFileStream> opened = std::nullopt,
                 bool templatePage = false);

 private:
  // Handlers shared by both listeners.
  void IdHTTPServer1Connect(TIdPeerThread& thread);
  void IdHTTPServer1SessionStart(TIdHTTPSession& session);
  void IdHTTPServer1SessionEnd(TIdHTTPSession& session);
  void IdHTTPServer1InvalidSession(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                                   TIdHTTPResponseInfo& response, bool& continueProcessing,
                                   const std::string& invalidSessionId);
  void IdHTTPServer1CommandGet(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                               TIdHTTPResponseInfo& response);
  void WireHandlers(TIdHTTPServer& server);
  std::unique_ptr<TGatewayRunner> MakeISAPIRunner(TIdHTTPServer& server);
  // The TLS handler's events: the key's pass phrase and the judgement of a client
  // certificate.
  void IdServerIOHandlerSSL1GetPassword(std::string& password);
  bool IdServerIOHandlerSSL1VerifyPeer(TIdX509& certificate);

  // The five response pages: the template when it exists, else the built-in body.
  struct ResponsePage;
  void SendResponsePage(const ResponsePage& page, TIdPeerThread& thread,
                        TIdHTTPRequestInfo& request, const std::string& user,
                        const std::string& clientAddress, TIdHTTPResponseInfo& response);
  void SendNotFoundPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq, const std::string& user,
                        const std::string& addr, TIdHTTPResponseInfo& rs);
  void SendUnauthorizedPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq, const std::string& user,
                            const std::string& addr, TIdHTTPResponseInfo& rs);
  void SendLoginOkPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq, const std::string& user,
                       const std::string& addr, TIdHTTPResponseInfo& rs);
  void SendLoginFailedPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq, const std::string& user,
                           const std::string& addr, TIdHTTPResponseInfo& rs);
  void SendLogoutOkPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq, const std::string& user,
                        const std::string& addr, TIdHTTPResponseInfo& rs);

  // A file the responder could not serve, before any of it went out: answered like a
  // missing file.
  void AnswerUnservable(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                        const std::string& localPath, const std::string& user,
                        const std::string& clientAddress, TIdHTTPResponseInfo& response);
  static constexpr char kNotFoundBody[] = "<html><body><b>404</b> File not found</body></html>";

  void ReportMonitoredHit(const std::string& localPath, const std::string& clientAddress);
  // False when activation fails; the failure line, its reason and, for a port that needs
  // rights, what to do are logged.
  bool StartListener(TIdHTTPServer& server, bool tls);
  static std::string LowPortAdvice(int port, bool tls);
  // A fresh program folder of a user who may not listen on the described ports takes
  // 8080 and 8443 instead, so the first start serves; existing settings keep theirs.
  void AvoidPortsNeedingRights();
  static constexpr int kUserHttpPort = 8080;
  static constexpr int kUserHttpsPort = 8443;
  void SaveSettingsAndAliases();
  void SaveTables();
  void StopListener(TIdHTTPServer& server, const char* stoppedLine, const char* failedLine);
  // The one way to a log line, from any thread. Client text inside it cannot break it
  // into lines of its own: control characters are escaped here.
  void Log(const std::string& text, bool toFile);
};

}  // namespace morlak
