// The server's configuration: every setting of httpsettings.lst with its built-in
// default, the content-type table of httpmimelist.lst and the settings dialog's
// geometry. One object, owned by the server core.
// Every request reads a score of values, so readers take no lock: a change publishes a
// new immutable SettingsSnapshot, with the list lookups parsed from it, and each thread
// keeps the snapshot it last saw until a newer one is published.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "stores/case_insensitive_hash.h"

namespace morlak {

// List text: every item followed by ";". Text after the last ";" is not an item.
std::string ListToText(const std::vector<std::string>& list);
std::vector<std::string> TextToList(std::string_view text);

// Every setting, in the order of the file. Lists are held as list text; mimeList and
// redirect rows are name "=" value.
struct SettingsValues {
  std::string mainPath;
  bool startOnStartup = false;
  bool startMinimized = false;
  bool startOnWindows = false;
  int32_t maxConnections = 0;
  int32_t sessionTimeout = 0;
  std::string defaultFile;
  std::string homeDirectory;
  std::string templateDirectory;
  std::string serverName;
  std::string adminEmail;
  std::string fileNotFound;
  std::string unauthorized;
  std::string loginSuccesfull;
  std::string logoutSuccesfull;
  std::string loginFailed;
  bool replaceData = false;
  std::string phpCompiler;
  std::string phpExtensions;
  bool enableCgiApplications = false;
  std::string cgiAlias;
  bool enableIsapiLibraries = false;
  std::string isapiAlias;
  bool certHttp = false;
  bool certHttps = false;
  bool certSsl = false;
  bool certTls = false;
  std::string certPassword;
  bool certCheckPeer = false;
  bool certCheckValid = false;
  std::string certSubject;
  std::string certRoot;
  std::string certCert;
  std::string certKey;
  bool enableRootAliases = false;
  bool enableDomainAliases = false;
  std::string banned;
  int32_t readSpeed = 0;
  int32_t writeSpeed = 0;
  std::string phpIniPath;
  int32_t httpPort = 0;
  int32_t httpsPort = 0;
  int32_t maxLogLines = 0;
  std::string logExtensions;
  bool logToFile = false;
  std::string logFileName;
  bool noCloseConfirmation = false;
  std::string redirect;
  int32_t logToFileLines = 0;
  bool keepAlive = false;
  int32_t keepAliveTimeout = 0;  // seconds
  int32_t maxSessions = 0;       // live sessions of all clients; 0 or less: no limit

  std::string mimeList;

  bool operator==(const SettingsValues&) const = default;
};

// Position and size of the settings dialog and the column widths of its two alias
// lists, in pixels.
struct SettingsDialogGeometry {
  int32_t top = 100;
  int32_t left = 100;
  int32_t width = 569;
  int32_t height = 408;
  int32_t rootAliasWidth1 = 95;
  int32_t rootAliasWidth2 = 150;
  int32_t domainAliasWidth1 = 95;
  int32_t domainAliasWidth2 = 150;

  bool operator==(const SettingsDialogGeometry&) const = default;
};

// One published state of the settings. The lists are parsed as the lookups need them: a
// row name maps to the value of the row that sorts first among those with that name.
class SettingsSnapshot {
 public:
  explicit SettingsSnapshot(SettingsValues values);

  const SettingsValues& Values() const { return values_; }
  // The "defaultfile" items in stored order.
  const std::vector<std::string>& DefaultFiles() const { return defaultFiles_; }
  // True when the argument equals an item of the list, without regard to case.
  bool IsPhpExtension(std::string_view ext) const { return phpExtensions_.contains(ext); }
  // True when the path is exactly the PHP compiler setting.
  bool IsPhpCompiler(std::string_view path) const { return path == values_.phpCompiler; }
  bool IsBannedAddress(std::string_view address) const {
    return !banned_.empty() && banned_.contains(address);
  }
  // Tests the extension of the file name's last path component ("" when it has none).
  bool IsExcludedFromLog(std::string_view fileName) const;
  // The type for an extension given with its dot; "" when the table has none.
  std::string_view ContentType(std::string_view ext) const;
  // The target of the redirect row for the document, or the document itself.
  std::string_view ResolveRedirect(std::string_view document) const;

 private:
  SettingsValues values_;
  std::vector<std::string> defaultFiles_;
  CaseInsensitiveSet phpExtensions_;
  CaseInsensitiveSet banned_;
  CaseInsensitiveSet logExtensions_;
  CaseInsensitiveMap<std::string> contentTypes_;
  CaseInsensitiveMap<std::string> redirects_;
};

class ServerSettings {
 public:
  static constexpr const char* kSettingsFileName = "httpsettings.lst";
  static constexpr const char* kMimeListFileName = "httpmimelist.lst";

  // Every value is zero, false or empty until InitSettingsDefaults.
  ServerSettings();
  ServerSettings(const ServerSettings&) = delete;
  ServerSettings& operator=(const ServerSettings&) = delete;

  // mainpath is the program folder; a "/" is added when it lacks one.
  void InitSettingsDefaults(const std::string& mainpath);
  // Reads both files from the program folder. False when httpsettings.lst exists but
  // cannot be read (nothing changes) or httpmimelist.lst cannot be read (the table
  // stays); a missing httpsettings.lst leaves every value as it is.
  bool LoadSettings();
  // Replaces both files atomically; false at the first failure.
  bool SaveSettings();

  // Every value in one step, as the settings dialog reads and applies them. Set keeps
  // the program folder, which never changes while the program runs.
  SettingsValues Get() const;
  void Set(const SettingsValues& values);
  SettingsDialogGeometry GetDialogGeometry() const;
  void SetDialogGeometry(const SettingsDialogGeometry& geometry);

  std::string GetMainPath() const { return Read(&SettingsValues::mainPath); }
  std::string GetHomeDirectory() const { return Read(&SettingsValues::homeDirectory); }
  std::string GetTemplateDirectory() const { return Read(&SettingsValues::templateDirectory); }
  std::string GetServerName() const { return Read(&SettingsValues::serverName); }
  std::string GetAdminEmail() const { return Read(&SettingsValues::adminEmail); }
  std::string GetFileNotFoundPage() const { return Read(&SettingsValues::fileNotFound); }
  std::string GetUnauthorizedPage() const { return Read(&SettingsValues::unauthorized); }
  std::string GetLoginSuccesfullPage() const { return Read(&SettingsValues::loginSuccesfull); }
  std::string GetLogoutSuccesfullPage() const { return Read(&SettingsValues::logoutSuccesfull); }
  std::string GetLoginFailedPage() const { return Read(&SettingsValues::loginFailed); }
  bool GetReplaceData() const { return Read(&SettingsValues::replaceData); }
  std::string GetPhpCompiler() const { return Read(&SettingsValues::phpCompiler); }
  std::string GetPhpIniPath() const { return Read(&SettingsValues::phpIniPath); }
  bool GetEnableCgi() const { return Read(&SettingsValues::enableCgiApplications); }
  std::string GetCgiAlias() const { return Read(&SettingsValues::cgiAlias); }
  bool GetEnableIsapi() const { return Read(&SettingsValues::enableIsapiLibraries); }
  std::string GetIsapiAlias() const { return Read(&SettingsValues::isapiAlias); }
  bool GetEnableRootAliases() const { return Read(&SettingsValues::enableRootAliases); }
  bool GetEnableDomainAliases() const { return Read(&SettingsValues::enableDomainAliases); }
  int32_t GetMaxConnections() const { return Read(&SettingsValues::maxConnections); }
  int32_t GetSessionTimeout() const { return Read(&SettingsValues::sessionTimeout); }
  // Bytes per second one connection may receive and send; 0 or less: no limit.
  int32_t GetReadSpeed() const { return Read(&SettingsValues::readSpeed); }
  int32_t GetWriteSpeed() const { return Read(&SettingsValues::writeSpeed); }
  bool GetKeepAlive() const { return Read(&SettingsValues::keepAlive); }
  int32_t GetKeepAliveTimeout() const { return Read(&SettingsValues::keepAliveTimeout); }
  int32_t GetMaxSessions() const { return Read(&SettingsValues::maxSessions); }
  int32_t GetHttpPort() const { return Read(&SettingsValues::httpPort); }
  int32_t GetHttpsPort() const { return Read(&SettingsValues::httpsPort); }
  bool GetCertHttp() const { return Read(&SettingsValues::certHttp); }
  bool GetCertHttps() const { return Read(&SettingsValues::certHttps); }
  bool GetCertSsl() const { return Read(&SettingsValues::certSsl); }
  std::string GetCertPassword() const { return Read(&SettingsValues::certPassword); }
  bool GetCertCheckPeer() const { return Read(&SettingsValues::certCheckPeer); }
  bool GetCertCheckValid() const { return Read(&SettingsValues::certCheckValid); }
  std::string GetCertSubject() const { return Read(&SettingsValues::certSubject); }
  std::string GetCertRoot() const { return Read(&SettingsValues::certRoot); }
  std::string GetCertCert() const { return Read(&SettingsValues::certCert); }
  std::string GetCertKey() const { return Read(&SettingsValues::certKey); }
  bool GetStartOnStartup() const { return Read(&SettingsValues::startOnStartup); }
  bool GetStartMinimized() const { return Read(&SettingsValues::startMinimized); }
  bool GetStartOnWindows() const { return Read(&SettingsValues::startOnWindows); }
  bool GetNoCloseConfirmation() const { return Read(&SettingsValues::noCloseConfirmation); }
  int32_t GetMaxLogLines() const { return Read(&SettingsValues::maxLogLines); }
  bool GetLogToFile() const { return Read(&SettingsValues::logToFile); }
  std::string GetLogFileName() const { return Read(&SettingsValues::logFileName); }
  int32_t GetLogToFileLines() const { return Read(&SettingsValues::logToFileLines); }

  // The settings as they are now; a request reads them all from one snapshot.
  std::shared_ptr<const SettingsSnapshot> Current() const;

  // The lookups of SettingsSnapshot, on the current settings.
  std::vector<std::string> GetDefaultFiles() const { return Cached().DefaultFiles(); }
  bool IsPhpExtension(std::string_view ext) const { return Cached().IsPhpExtension(ext); }
  bool IsPhpCompiler(std::string_view path) const { return Cached().IsPhpCompiler(path); }
  bool IsBannedAddress(std::string_view address) const { return Cached().IsBannedAddress(address); }
  bool IsExcludedFromLog(const std::string& fileName) const {
    return Cached().IsExcludedFromLog(fileName);
  }
  std::string GetContentType(std::string_view ext) const {
    return std::string(Cached().ContentType(ext));
  }
  std::string ResolveRedirect(std::string_view document) const {
    return std::string(Cached().ResolveRedirect(document));
  }

 private:
  template <typename T>
  T Read(T SettingsValues::*field) const {
    return Cached().Values().*field;
  }
  // The calling thread's copy of the current snapshot; valid until its next call.
  const SettingsSnapshot& Cached() const;
  // Makes `values` the current settings; called with settingsLock held.
  void Publish(SettingsValues values);

  // Serialises the changes, and guards current_ and geometry_.
  mutable std::mutex settingsLock;
  // Held by load and save for their file work, so two saves cannot overtake each
  // other; settingsLock is held only while values are copied in or out.
  std::mutex fileLock_;
  std::shared_ptr<const SettingsSnapshot> current_;
  // Unique among all instances, so a thread's copy is never taken for another's.
  std::atomic<uint64_t> generation_{0};
  SettingsDialogGeometry geometry_;
};

}  // namespace morlak
