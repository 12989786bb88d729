#include "stores/server_settings.h"

#include <algorithm>
#include <optional>
#include <span>
#include <variant>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "stores/mime_defaults.h"

namespace morlak {

namespace {

constexpr const char* kSettingsSection = "settings";

using StringField = std::string SettingsValues::*;
using IntegerField = int32_t SettingsValues::*;
using FlagField = bool SettingsValues::*;

struct SettingKey {
  const char* key;
  std::variant<StringField, IntegerField, FlagField> field;
};

// The keys of section "settings" in the order they are written; the first is the
// program folder, which is written but never read back.
const SettingKey kSettingKeys[] = {
    {"mainpath", &SettingsValues::mainPath},
    {"startonstartup", &SettingsValues::startOnStartup},
    {"startminimized", &SettingsValues::startMinimized},
    {"startonwindows", &SettingsValues::startOnWindows},
    {"maxconnections", &SettingsValues::maxConnections},
    {"sessiontimeout", &SettingsValues::sessionTimeout},
    {"defaultfile", &SettingsValues::defaultFile},
    {"homedirectory", &SettingsValues::homeDirectory},
    {"templatedirectory", &SettingsValues::templateDirectory},
    {"servername", &SettingsValues::serverName},
    {"adminemail", &SettingsValues::adminEmail},
    {"filenotfound", &SettingsValues::fileNotFound},
    {"unauthorized", &SettingsValues::unauthorized},
    {"loginsuccesfull", &SettingsValues::loginSuccesfull},
    {"logoutsuccesfull", &SettingsValues::logoutSuccesfull},
    {"loginfailed", &SettingsValues::loginFailed},
    {"replacedata", &SettingsValues::replaceData},
    {"phpcompiler", &SettingsValues::phpCompiler},
    {"phpextensions", &SettingsValues::phpExtensions},
    {"enablecgiapplications", &SettingsValues::enableCgiApplications},
    {"cgialias", &SettingsValues::cgiAlias},
    {"enableisapilibraries", &SettingsValues::enableIsapiLibraries},
    {"isapialias", &SettingsValues::isapiAlias},
    {"certhttp", &SettingsValues::certHttp},
    {"certhttps", &SettingsValues::certHttps},
    {"certssl", &SettingsValues::certSsl},
    {"certtls", &SettingsValues::certTls},
    {"certpassword", &SettingsValues::certPassword},
    {"certcheckpeer", &SettingsValues::certCheckPeer},
    {"certcheckvalid", &SettingsValues::certCheckValid},
    {"certsubject", &SettingsValues::certSubject},
    {"certroot", &SettingsValues::certRoot},
    {"certcert", &SettingsValues::certCert},
    {"certkey", &SettingsValues::certKey},
    {"enablerootaliases", &SettingsValues::enableRootAliases},
    {"enabledomainaliases", &SettingsValues::enableDomainAliases},
    {"banned", &SettingsValues::banned},
    {"readspeed", &SettingsValues::readSpeed},
    {"writespeed", &SettingsValues::writeSpeed},
    {"phpinipath", &SettingsValues::phpIniPath},
    {"httpport", &SettingsValues::httpPort},
    {"httpsport", &SettingsValues::httpsPort},
    {"maxloglines", &SettingsValues::maxLogLines},
    {"logextensions", &SettingsValues::logExtensions},
    {"logtofile", &SettingsValues::logToFile},
    {"logfilename", &SettingsValues::logFileName},
    {"nocloseconfirmation", &SettingsValues::noCloseConfirmation},
    {"redirect", &SettingsValues::redirect},
    {"logtofilelines", &SettingsValues::logToFileLines},
    {"keepalive", &SettingsValues::keepAlive},
    {"keepalivetimeout", &SettingsValues::keepAliveTimeout},
    {"maxsessions", &SettingsValues::maxSessions},
};

struct GeometryKey {
  const char* section;
  const char* key;
  int32_t SettingsDialogGeometry::*field;
};

const GeometryKey kGeometryKeys[] = {
    {"httpsettings", "top", &SettingsDialogGeometry::top},
    {"httpsettings", "left", &SettingsDialogGeometry::left},
    {"httpsettings", "width", &SettingsDialogGeometry::width},
    {"httpsettings", "height", &SettingsDialogGeometry::height},
    {"rootaliassection", "width1", &SettingsDialogGeometry::rootAliasWidth1},
    {"rootaliassection", "width2", &SettingsDialogGeometry::rootAliasWidth2},
    {"domainaliassection", "width1", &SettingsDialogGeometry::domainAliasWidth1},
    {"domainaliassection", "width2", &SettingsDialogGeometry::domainAliasWidth2},
};

// Generations of every instance come from one counter.
std::atomic<uint64_t> g_lastGeneration{0};

// A thread's copy of the snapshot it last read, and whose and which it is.
struct CachedSnapshot {
  const void* owner = nullptr;
  uint64_t generation = 0;
  std::shared_ptr<const SettingsSnapshot> snapshot;
};
thread_local CachedSnapshot t_cached;

template <typename... Visitors>
struct Overloaded : Visitors... {
  using Visitors::operator()...;
};

SettingsValues DefaultSettings(const std::string& mainPath) {
  SettingsValues v;
  v.mainPath = mainPath;
  v.sessionTimeout = 60000;
  v.defaultFile = "index.html;";
  v.homeDirectory = mainPath + "http/public/";
  v.templateDirectory = mainPath + "http/templates";
  v.serverName = "My Web Server";
  v.adminEmail = "<webmaster@localhost>";
  v.fileNotFound = "filenotfound.html";
  v.unauthorized = "unauthorized.html";
  v.loginSuccesfull = "loginsuccesfull.html";
  v.logoutSuccesfull = "logoutsuccesfull.html";
  v.loginFailed = "loginfailed.html";
  v.replaceData = true;
  v.phpCompiler = "/usr/bin/php-cgi";
  v.phpExtensions = ".php;";
  v.enableCgiApplications = true;
  v.cgiAlias = "/cgi-bin/";
  v.isapiAlias = "/cgi-bin/";
  v.certHttp = true;
  v.certSsl = true;
  v.certPassword = "wq7rzkpe";
  v.phpIniPath = "/etc/php/";
  v.httpPort = 80;
  v.httpsPort = 443;
  v.maxLogLines = 1000;
  v.keepAlive = true;
  v.keepAliveTimeout = 5;
  v.maxSessions = 100000;
  v.logFileName = mainPath + "weblog.txt";
  v.noCloseConfirmation = true;
  for (const std::string_view row : kBuiltInMimeRows) v.mimeList.append(row).push_back(';');
  return v;
}

CaseInsensitiveSet ItemSet(std::string_view listText) {
  CaseInsensitiveSet set;
  for (auto& item : TextToList(listText)) set.insert(std::move(item));
  return set;
}

// Rows without "=" are skipped; among rows with the same name, the one whose whole
// text sorts first (without regard to case) wins.
CaseInsensitiveMap<std::string> RowMap(std::string_view listText) {
  std::vector<std::string> rows = TextToList(listText);
  std::stable_sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
    return CompareText(a, b) < 0;
  });
  CaseInsensitiveMap<std::string> map;
  for (const auto& row : rows) {
    const size_t eq = row.find('=');
    if (eq != std::string::npos) map.try_emplace(row.substr(0, eq), row.substr(eq + 1));
  }
  return map;
}

}  // namespace

std::string ListToText(const std::vector<std::string>& list) {
  std::string text;
  for (const auto& item : list) text.append(item).push_back(';');
  return text;
}

std::vector<std::string> TextToList(std::string_view text) {
  std::vector<std::string> list;
  for (size_t semicolon = text.find(';'); semicolon != std::string_view::npos;
       semicolon = text.find(';')) {
    list.emplace_back(text.substr(0, semicolon));
    text.remove_prefix(semicolon + 1);
  }
  return list;
}

SettingsSnapshot::SettingsSnapshot(SettingsValues values)
    : values_(std::move(values)),
      defaultFiles_(TextToList(values_.defaultFile)),
      phpExtensions_(ItemSet(values_.phpExtensions)),
      banned_(ItemSet(values_.banned)),
      logExtensions_(ItemSet(values_.logExtensions)),
      contentTypes_(RowMap(values_.mimeList)),
      redirects_(RowMap(values_.redirect)) {}

bool SettingsSnapshot::IsExcludedFromLog(std::string_view fileName) const {
  return logExtensions_.contains(ExtractFileExtView(fileName));
}

std::string_view SettingsSnapshot::ContentType(std::string_view ext) const {
  const auto it = contentTypes_.find(ext);
  return it == contentTypes_.end() ? std::string_view() : std::string_view(it->second);
}

std::string_view SettingsSnapshot::ResolveRedirect(std::string_view document) const {
  const auto it = redirects_.find(document);
  return it == redirects_.end() || it->second.empty() ? document : std::string_view(it->second);
}

ServerSettings::ServerSettings() {
  std::lock_guard lock(settingsLock);
  Publish(SettingsValues{});
}

void ServerSettings::Publish(SettingsValues values) {
  current_ = std::make_shared<const SettingsSnapshot>(std::move(values));
  generation_.store(g_lastGeneration.fetch_add(1) + 1, std::memory_order_release);
}

const SettingsSnapshot& ServerSettings::Cached() const {
  // The generation is read before the snapshot, and both are written under the lock, so a
  // copy whose generation is current is the current snapshot.
  const uint64_t generation = generation_.load(std::memory_order_acquire);
  CachedSnapshot& cached = t_cached;
  if (cached.owner != this || cached.generation != generation) {
    std::lock_guard lock(settingsLock);
    cached.snapshot = current_;
    cached.generation = generation_.load(std::memory_order_relaxed);
    cached.owner = this;
  }
  return *cached.snapshot;
}

std::shared_ptr<const SettingsSnapshot> ServerSettings::Current() const {
  Cached();
  return t_cached.snapshot;
}

void ServerSettings::InitSettingsDefaults(const std::string& mainpath) {
  std::lock_guard lock(settingsLock);
  Publish(DefaultSettings(IncludeTrailingSeparator(mainpath)));
  geometry_ = SettingsDialogGeometry{};
}

bool ServerSettings::LoadSettings() {
  std::lock_guard files(fileLock_);
  const std::string folder = GetMainPath();
  const IniFile ini(folder + kSettingsFileName);
  if (ini.ReadFailed()) return false;
  const std::optional<std::string> mimeFile = ReadWholeFile(folder + kMimeListFileName);

  std::lock_guard lock(settingsLock);
  SettingsValues values = current_->Values();
  for (const auto& g : kGeometryKeys)
    geometry_.*g.field = ini.ReadInteger(g.section, g.key, geometry_.*g.field);
  for (const auto& setting : std::span(kSettingKeys).subspan(1)) {
    std::visit(Overloaded{
                   [&](StringField f) {
                     values.*f = ini.ReadString(kSettingsSection, setting.key, values.*f);
                   },
                   [&](IntegerField f) {
                     values.*f = ini.ReadInteger(kSettingsSection, setting.key, values.*f);
                   },
                   [&](FlagField f) {
                     values.*f = ini.ReadBool(kSettingsSection, setting.key, values.*f);
                   },
               },
               setting.field);
  }
  if (mimeFile) values.mimeList = ListToText(SplitDataLines(*mimeFile));
  Publish(std::move(values));
  return mimeFile.has_value();
}

bool ServerSettings::SaveSettings() {
  std::lock_guard files(fileLock_);
  std::shared_ptr<const SettingsSnapshot> snapshot;
  SettingsDialogGeometry geometry;
  {
    std::lock_guard lock(settingsLock);
    snapshot = current_;
    geometry = geometry_;
  }
  const SettingsValues& values = snapshot->Values();
  IniFile ini(values.mainPath + kSettingsFileName);
  for (const auto& g : kGeometryKeys) ini.WriteInteger(g.section, g.key, geometry.*g.field);
  for (const auto& setting : kSettingKeys) {
    std::visit(
        Overloaded{
            [&](StringField f) { ini.WriteString(kSettingsSection, setting.key, values.*f); },
            [&](IntegerField f) { ini.WriteInteger(kSettingsSection, setting.key, values.*f); },
            [&](FlagField f) { ini.WriteBool(kSettingsSection, setting.key, values.*f); },
        },
        setting.field);
  }
  return ini.Save(FileAccess::kSecret) &&
         WriteFileAtomic(values.mainPath + kMimeListFileName,
                         JoinLinesCrLf(TextToList(values.mimeList)));
}

SettingsValues ServerSettings::Get() const {
  return Cached().Values();
}

void ServerSettings::Set(const SettingsValues& values) {
  std::lock_guard lock(settingsLock);
  SettingsValues next = values;
  next.mainPath = current_->Values().mainPath;
  Publish(std::move(next));
}

SettingsDialogGeometry ServerSettings::GetDialogGeometry() const {
  std::lock_guard lock(settingsLock);
  return geometry_;
}

void ServerSettings::SetDialogGeometry(const SettingsDialogGeometry& geometry) {
  std::lock_guard lock(settingsLock);
  geometry_ = geometry;
}

}  // namespace morlak
